# Debian's MinGW-w64 cross compiler (g++-mingw-w64-x86-64-posix: POSIX threads, so std::thread
# and std::mutex work) building 64-bit Windows programs on Linux. Qt for MinGW comes from
# CMAKE_PREFIX_PATH; its moc, rcc and uic are the host's (QT_HOST_PATH).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_OBJDUMP x86_64-w64-mingw32-objdump)
set(CMAKE_STRIP x86_64-w64-mingw32-strip)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
# Programs run on the build machine; libraries and headers come from the Windows side; CMake
# packages (Qt's) are found where CMAKE_PREFIX_PATH says as well as under the root.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
