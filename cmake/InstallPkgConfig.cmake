# Writes vorka.pc for the prefix the installation really goes to (which
# `cmake --install --prefix` or CPack may choose after configuration) and
# installs it beside the CMake package. Runs at install time, with
# VORKA_PC_IN, VORKA_PC_WORK, PROJECT_VERSION, CMAKE_INSTALL_LIBDIR and
# CMAKE_INSTALL_INCLUDEDIR set by the caller.
set(VORKA_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
configure_file("${VORKA_PC_IN}" "${VORKA_PC_WORK}/vorka.pc" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig" TYPE FILE
     FILES "${VORKA_PC_WORK}/vorka.pc")
