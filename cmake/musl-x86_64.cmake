# x86-64 build against musl, the small C library: it compiles and links the shipped library and
# executable so that a call glibc has and a small C library lacks fails the build. C goes through
# musl-gcc; C++ through g++ with musl's headers in place of glibc's (the shipped code uses only
# header-only parts of libstdc++). cJSON and libmosquitto resolve against link stubs made by
# scripts/musl-stubs.sh in <build>/stubs. Nothing built here is run.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER musl-gcc)
set(CMAKE_CXX_COMPILER g++)

if(NOT BRIM_MUSL_STUBS)
  set(BRIM_MUSL_STUBS "${CMAKE_BINARY_DIR}/stubs")
endif()
set(BRIM_MUSL_STUBS "${BRIM_MUSL_STUBS}" CACHE PATH "cJSON/libmosquitto headers and link stubs for musl")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BRIM_MUSL_STUBS)

execute_process(COMMAND g++ -dumpversion OUTPUT_VARIABLE _brim_gxx_version OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND g++ -print-multiarch OUTPUT_VARIABLE _brim_multiarch OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND g++ -print-file-name=include OUTPUT_VARIABLE _brim_gcc_include OUTPUT_STRIP_TRAILING_WHITESPACE)
set(_brim_musl_include /usr/include/x86_64-linux-musl)
# libstdc++'s headers, then musl's, the compiler's and the kernel's; the compat header gives
# libstdc++'s glibc-configured headers the two glibc names they use.
set(CMAKE_CXX_FLAGS_INIT "-nostdinc -isystem /usr/include/c++/${_brim_gxx_version} \
-isystem /usr/include/${_brim_multiarch}/c++/${_brim_gxx_version} -isystem ${_brim_musl_include} \
-isystem ${_brim_gcc_include} -isystem ${BRIM_MUSL_STUBS}/kernel \
-include ${BRIM_MUSL_STUBS}/include/brim_musl_compat.h")
set(CMAKE_C_FLAGS_INIT "-isystem ${BRIM_MUSL_STUBS}/kernel")

# Only the stubs' pkg-config files; the host's would bring glibc's /usr/include along.
set(ENV{PKG_CONFIG_DIR} "")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_LIBDIR} "${BRIM_MUSL_STUBS}/lib/pkgconfig")
set(CMAKE_FIND_ROOT_PATH "${BRIM_MUSL_STUBS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
