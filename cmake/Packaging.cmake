# The CMake package of the library and the Debian packages made by CPack:
# "vorka" (program and manual page) and "vorka-dev" (headers, static library,
# CMake package).
include(CMakePackageConfigHelpers)
set(VORKA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vorka)
install(EXPORT vorkaTargets NAMESPACE vorka:: DESTINATION ${VORKA_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/vorkaConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/vorkaConfig.cmake INSTALL_DESTINATION ${VORKA_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/vorkaConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vorkaConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/vorkaConfigVersion.cmake
  DESTINATION ${VORKA_CMAKE_DIR} COMPONENT dev)

# Each Debian package carries its copyright file and the changelog,
# compressed as Debian wants it (a native package: changelog.gz).
if(VORKA_GZIP)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
    COMMAND ${VORKA_GZIP} -9 -n -c ${CMAKE_CURRENT_LIST_DIR}/debian/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog
    COMMENT "Compressing the Debian changelog")
  add_custom_target(vorka_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
  foreach(component runtime dev)
    set(package vorka)
    if(component STREQUAL "dev")
      set(package vorka-dev)
    endif()
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/changelog.gz
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  endforeach()
endif()

set(CPACK_PACKAGE_NAME vorka)
set(CPACK_PACKAGE_VENDOR "Vorkasteln developers")
set(CPACK_PACKAGE_CONTACT "Vorkasteln developers <maintainers@vorkasteln.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "LZ78 dictionary file compressor and its console test bench")
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Debian ships programs without their symbol tables.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME vorka)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "vorka packs a file, unpacks it, or packs, unpacks and compares the result,
repeating each run up to 100 times and reporting time per run, speed,
compression ratios, dictionary resets and the longest dictionary phrase.")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME vorka-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "The compressed-file object and the block codec of vorka as a static C++20
library, with headers and a CMake package (find_package(vorka), vorka::lz).")
find_program(VORKA_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VORKA_STATIC_PROGRAM AND NOT WIN32)
  # A static program has no shared libraries to find, but its console
  # conversion loads the iconv modules of the C library it was built with
  # (lintian calls such a package an error; it is meant for benchmarks).
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6 (>= 2.36)")
elseif(VORKA_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6 (>= 2.34)")
endif()
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libstdc++-12-dev | libstdc++-dev")
include(CPack)
