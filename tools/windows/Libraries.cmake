# The libraries of the Windows build: static, cross-built by tools/windows/deps.sh into
# KESU_WINDOWS_PREFIX (zlib from MinGW's own package), given the target names the Linux build's
# pkg-config lookups give them, so the folders link the same names on both systems.
if(NOT KESU_WINDOWS_PREFIX)
  message(FATAL_ERROR "KESU_WINDOWS_PREFIX must name the cross-built libraries (tools/windows.sh)")
endif()
set(prefix ${KESU_WINDOWS_PREFIX})

# kesu_windows_library(NAME LIBRARY... [DEFINE d...] [INCLUDE dir...] [SYSTEM winlib...])
function(kesu_windows_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "DEFINE;INCLUDE;SYSTEM")
  set(files)
  foreach(library ${arg_UNPARSED_ARGUMENTS})
    find_library(KESU_LIB_${library} NAMES ${library} PATHS ${prefix}/lib /usr/x86_64-w64-mingw32/lib
                 NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    list(APPEND files ${KESU_LIB_${library}})
  endforeach()
  add_library(PkgConfig::${name} INTERFACE IMPORTED GLOBAL)
  target_include_directories(PkgConfig::${name} INTERFACE ${prefix}/include ${arg_INCLUDE})
  target_compile_definitions(PkgConfig::${name} INTERFACE ${arg_DEFINE})
  target_link_libraries(PkgConfig::${name} INTERFACE ${files} ${arg_SYSTEM})
endfunction()

kesu_windows_library(ZLIB libz.a)
kesu_windows_library(CURL libcurl.a DEFINE CURL_STATICLIB SYSTEM ws2_32 crypt32 bcrypt advapi32 secur32 winmm)
kesu_windows_library(LIBXML2 libxml2.a DEFINE LIBXML_STATIC INCLUDE ${prefix}/include/libxml2 SYSTEM ws2_32)
kesu_windows_library(MINIZIP libminizip.a libz.a)
kesu_windows_library(SODIUM libsodium.a DEFINE SODIUM_STATIC SYSTEM advapi32)
kesu_windows_library(ZSTD libzstd.a)
if(KESU_BUILD_TESTS)
  kesu_windows_library(GTEST libgtest_main.a libgtest.a)
  kesu_windows_library(HTTPLIB SYSTEM ws2_32 crypt32)
endif()

# One program needs nothing but Windows' own DLLs: the C and C++ runtimes and the threads go in.
add_link_options(-static -static-libgcc -static-libstdc++)
# Windows 10's API, the oldest the program is meant for.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)
# MinGW's g++ 12 warns of overlapping copies inside std::string's own operator+ (GCC bug 105651,
# a false positive of its inlining at -O2) wherever a string is built from pieces; the Linux
# build keeps the warning.
add_compile_options(-Wno-restrict)
