# Cross toolchain for the 64-bit Windows build. The posix-thread variants are required:
# the win32-thread compilers have no std::thread/std::mutex and cannot build GoogleTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test executables run through Wine with the project's prefix and locale.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
# Binary tools of the same target (the compiler's "-posix" suffix hides their prefix from CMake).
set(CMAKE_OBJCOPY x86_64-w64-mingw32-objcopy CACHE FILEPATH "")
set(CMAKE_STRIP x86_64-w64-mingw32-strip CACHE FILEPATH "")
