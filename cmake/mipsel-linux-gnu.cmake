# Cross build for the router: 32-bit little-endian MIPS, Debian's mipsel-linux-gnu toolchain.
# cJSON and libmosquitto come from a sysroot unpacked by scripts/target-sysroot.sh; the C library
# and its headers are the toolchain's own. Test programs run under qemu-user.
#   cmake -S . -B build-mipsel -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-gnu.cmake
# BRIM_TARGET_SYSROOT defaults to <build>/sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)
set(CMAKE_C_COMPILER mipsel-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mipsel-linux-gnu-g++)
# A router's firmware lives under /usr (the subscriber's default module directory follows it).
set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install path prefix")

if(NOT BRIM_TARGET_SYSROOT)
  set(BRIM_TARGET_SYSROOT "${CMAKE_BINARY_DIR}/sysroot")
endif()
set(BRIM_TARGET_SYSROOT "${BRIM_TARGET_SYSROOT}" CACHE PATH "mipsel sysroot with cJSON and libmosquitto")
# try_compile projects re-read this file in a directory of their own; keep the sysroot for them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BRIM_TARGET_SYSROOT)
set(_brim_libdir "${BRIM_TARGET_SYSROOT}/usr/lib/mipsel-linux-gnu")

# Headers and libraries of the target only; programs (pkg-config, qemu) from the host.
set(CMAKE_FIND_ROOT_PATH "${BRIM_TARGET_SYSROOT}" /usr/mipsel-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must never see the host's .pc files.
set(ENV{PKG_CONFIG_DIR} "")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_LIBDIR} "${_brim_libdir}/pkgconfig:${BRIM_TARGET_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${BRIM_TARGET_SYSROOT}")

# libmosquitto needs libssl/libcrypto; the linker finds them for its undefined-symbol check here.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_brim_libdir}")
endforeach()

# Tests run under qemu-user with the sysroot as the loader prefix (its /lib holds the C library).
# A build without tests (-DBRIM_TESTS=OFF) needs no qemu.
find_program(BRIM_QEMU_MIPSEL qemu-mipsel)
if(BRIM_QEMU_MIPSEL)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${BRIM_QEMU_MIPSEL};-L;${BRIM_TARGET_SYSROOT}")
endif()
