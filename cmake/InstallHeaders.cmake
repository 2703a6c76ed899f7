# Installs the headers that a user of the library needs: vorka.h (from
# src/Vorka.h) and every project header it reaches through quoted includes,
# each resolved relative to the file that includes it, into
# <prefix>/<VORKA_INCLUDEDIR>/vorka with the folders kept. Nothing else of src/
# is installed, so the list follows the headers as they are renamed or split.
# Runs at install time (install(SCRIPT)), with VORKA_SOURCE_ROOT and
# VORKA_INCLUDEDIR set by the caller.
cmake_policy(VERSION 3.20)
if(NOT VORKA_SOURCE_ROOT OR NOT VORKA_INCLUDEDIR)
  message(FATAL_ERROR "InstallHeaders.cmake needs VORKA_SOURCE_ROOT and VORKA_INCLUDEDIR")
endif()

set(pending "${VORKA_SOURCE_ROOT}/Vorka.h")
set(found "")
while(pending)
  list(POP_FRONT pending header)
  if(header IN_LIST found)
    continue()
  endif()
  if(NOT EXISTS "${header}")
    message(FATAL_ERROR "a public header includes ${header}, which does not exist")
  endif()
  list(APPEND found "${header}")
  get_filename_component(folder "${header}" DIRECTORY)
  file(STRINGS "${header}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" name "${line}")
    get_filename_component(target "${name}" ABSOLUTE BASE_DIR "${folder}")
    file(RELATIVE_PATH inside "${VORKA_SOURCE_ROOT}" "${target}")
    if(inside MATCHES "^\\.\\./")
      message(FATAL_ERROR "${header} includes ${name}, outside the source folder")
    endif()
    list(APPEND pending "${target}")
  endforeach()
endwhile()

set(destination "${CMAKE_INSTALL_PREFIX}/${VORKA_INCLUDEDIR}/vorka")
foreach(header IN LISTS found)
  file(RELATIVE_PATH inside "${VORKA_SOURCE_ROOT}" "${header}")
  get_filename_component(subfolder "${inside}" DIRECTORY)
  if(inside STREQUAL "Vorka.h")
    file(INSTALL DESTINATION "${destination}" TYPE FILE RENAME vorka.h FILES "${header}")
  else()
    file(INSTALL DESTINATION "${destination}/${subfolder}" TYPE FILE FILES "${header}")
  endif()
endforeach()
