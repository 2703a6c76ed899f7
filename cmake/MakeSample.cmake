# Writes the sample plain file: the project's own sources and documents, one
# after another, about a few hundred kilobytes of mixed text.
file(GLOB_RECURSE parts LIST_DIRECTORIES false
  ${TOP}/README.md ${TOP}/src/*.h ${TOP}/src/*.cpp ${TOP}/tests/*.cpp ${TOP}/CMakeLists.txt)
list(SORT parts)
file(WRITE ${OUT} "")
foreach(p IN LISTS parts)
  file(READ ${p} text)
  file(APPEND ${OUT} "${text}")
endforeach()
