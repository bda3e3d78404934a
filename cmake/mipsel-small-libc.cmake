# Cross build for the router against its own kind of C library (uClibc-ng, or musl) instead of the
# toolchain's glibc: Debian's mipsel cross compiler with none of its own C headers, start files or
# libraries, only the small library's. BRIM_LIBC_ROOT holds usr/include (the C library's headers
# and the kernel's), usr/lib (crt1.o, crti.o, crtn.o, libc) and lib (the loader), as made by
# scripts/target-uclibc.sh; programs ask for the loader BRIM_LIBC_LOADER. cJSON and libmosquitto
# resolve against link stubs (scripts/musl-stubs.sh) in BRIM_LINK_STUBS.
#   cmake -S . -B build-uclibc -G Ninja -DBRIM_TESTS=OFF -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-small-libc.cmake \
#     -DBRIM_LIBC_ROOT=DIR -DBRIM_LIBC_LOADER=/lib/ld-uClibc.so.0 -DBRIM_LINK_STUBS=DIR
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)
set(CMAKE_C_COMPILER mipsel-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mipsel-linux-gnu-g++)
foreach(v BRIM_LIBC_ROOT BRIM_LIBC_LOADER BRIM_LINK_STUBS)
  if(NOT ${v})
    message(FATAL_ERROR "mipsel-small-libc.cmake: set ${v}")
  endif()
  set(${v} "${${v}}" CACHE STRING "")
endforeach()
# try_compile projects re-read this file in a directory of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BRIM_LIBC_ROOT BRIM_LIBC_LOADER BRIM_LINK_STUBS)
set(_root "${BRIM_LIBC_ROOT}")

# The compiler's C++ headers (its search list without the glibc directory) and its own headers.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -E -v -x c++ /dev/null OUTPUT_QUIET ERROR_VARIABLE _v)
string(REGEX MATCHALL "\n [^\n]*/c\\+\\+/[^\n]*" _cxx_dirs "${_v}")
set(_cxx_inc "")
foreach(d ${_cxx_dirs})
  string(STRIP "${d}" d)
  string(APPEND _cxx_inc " -isystem ${d}")
endforeach()
execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=include OUTPUT_VARIABLE _gcc_inc
  OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=crtbegin.o OUTPUT_VARIABLE _crtbegin
  OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(_gcc_dir "${_crtbegin}" DIRECTORY)
set(_c_inc "-nostdinc -isystem ${_gcc_inc} -isystem ${_root}/usr/include")
set(CMAKE_C_FLAGS_INIT "${_c_inc}")
set(CMAKE_CXX_FLAGS_INIT "-nostdinc${_cxx_inc} ${_c_inc} -include ${CMAKE_CURRENT_LIST_DIR}/small-libc-compat.h")

# Start files before the objects, the C library, libgcc and the end files after them (crtend.o
# serves shared objects too: it is crtendS.o's twin on this target). Programs are not PIE.
set(_start "-nostdlib --sysroot=${_root}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_start} -no-pie -Wl,--dynamic-linker=${BRIM_LIBC_LOADER} \
${_root}/usr/lib/crt1.o ${_root}/usr/lib/crti.o ${_gcc_dir}/crtbegin.o")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_start} ${_root}/usr/lib/crti.o ${_gcc_dir}/crtbeginS.o")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${CMAKE_SHARED_LINKER_FLAGS_INIT}")
set(CMAKE_C_STANDARD_LIBRARIES "-L${_root}/usr/lib -lc -lgcc ${_gcc_dir}/crtend.o ${_root}/usr/lib/crtn.o")
set(CMAKE_CXX_STANDARD_LIBRARIES "${CMAKE_C_STANDARD_LIBRARIES}")

# Only the stubs' pkg-config files and the small library's directories.
set(ENV{PKG_CONFIG_DIR} "")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_LIBDIR} "${BRIM_LINK_STUBS}/lib/pkgconfig")
set(CMAKE_FIND_ROOT_PATH "${_root}" "${BRIM_LINK_STUBS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
