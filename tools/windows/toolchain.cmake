# Cross-compiling for Windows x86-64 with MinGW-w64's posix-threads compilers (std::thread and
# std::mutex need them). Programs run through Wine, so CTest runs the test programs there.
# KESU_WINDOWS_PREFIX names the folder the libraries were cross-built into (tools/windows/deps.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESU_WINDOWS_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/${triple} ${KESU_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads only the cross-built libraries' files.
set(ENV{PKG_CONFIG_LIBDIR} "${KESU_WINDOWS_PREFIX}/lib/pkgconfig:${KESU_WINDOWS_PREFIX}/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
