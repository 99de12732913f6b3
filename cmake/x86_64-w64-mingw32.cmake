# Cross build for 64-bit Windows with Debian's MinGW-w64 (the posix thread
# model: g++-mingw-w64-x86-64-posix). GMP, MPFR, GoogleTest and Qt come from
# Debian's sources, built once by scripts/windows-libs into the folder that
# windows-libs-dir names; the programs run under wine64 through cmake/wine-run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

execute_process(COMMAND "${CMAKE_CURRENT_LIST_DIR}/windows-libs-dir"
  OUTPUT_VARIABLE quadrilo_windows_libs OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${quadrilo_windows_libs}/prefix" "${quadrilo_windows_libs}/qt")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "${quadrilo_windows_libs}/prefix/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Qt's tools (moc, rcc, uic) are the build machine's, of the same version.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run")
