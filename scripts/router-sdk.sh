#!/usr/bin/env bash
# Makes the router's SDK, as a vendor's looks: a cross compiler for the router's C library and a
# staging directory, from Debian bookworm's source packages and Debian's mipsel cross compiler.
#   bash scripts/router-sdk.sh [OUT]        # OUT default build-sdk, a link into the cache
#   OUT/bin/mipsel-linux-uclibc-{gcc,g++,cc,c++,cpp,ar,ranlib,nm,strip,objcopy,objdump,readelf,ld,as,size}
#   OUT/staging/{lib,usr/include,usr/lib,usr/lib/pkgconfig,usr/bin,usr/sbin,etc}
# The staging holds uClibc-ng (scripts/target-uclibc.sh's, with the advanced realtime option),
# cJSON, OpenSSL 3.0, mosquitto (broker, clients, mosquitto_passwd, library), busybox, and our stand-ins for the
# firmware's platform libraries (libapmib.so, libvzmqtt.so in usr/lib, the apmib tool in usr/bin).
# The sources come through a private apt configuration (its own sources.list with deb-src entries
# for the Debian archive the machine uses, its own lists and cache); nothing is installed.
# Cached under ${BRIM_CACHE:-/var/cache/brimlib}/sdk/KEY: KEY a digest of the source versions, the
# uClibc-ng build, the compiler and the functions below that make it; the stand-ins are added on
# top, keyed by their sources and the part of this script that adds them.
set -euo pipefail
USAGE="usage: bash scripts/router-sdk.sh [OUT]
Makes the router's SDK from Debian's source packages: OUT/bin/mipsel-linux-uclibc-gcc (g++, ar,
strip, ...) and OUT/staging (uClibc-ng, cJSON, OpenSSL, mosquitto, busybox, our stand-ins for the
platform libraries). OUT (default build-sdk) is a link into \${BRIM_CACHE:-/var/cache/brimlib}/sdk;
a cold build takes some minutes, a cached one seconds."
. "$(dirname "${BASH_SOURCE[0]}")/lib/usage.sh"
usage_args 1 "$@"
repo=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$repo/build-sdk}
cache=${BRIM_CACHE:-/var/cache/brimlib}/sdk
cross=mipsel-linux-gnu-
jobs=2
t0=$SECONDS
say() { printf 'router-sdk: [%3d s] %s\n' $((SECONDS - t0)) "$*"; }
srcpkgs=(cjson openssl mosquitto busybox)

bash "$repo/scripts/deps-target.sh"
mkdir -p "$cache"
uc=$(mktemp -d)
trap 'rm -rf "$uc"' EXIT
bash "$repo/scripts/target-uclibc.sh" "$uc" | sed 's/^/  /'
libc=$(readlink -f "$uc/uclibc-rt")

# The private apt: deb-src for each Debian archive (suites, components, key) the machine's own
# sources name. The lists are fetched again once a day.
apt_dir=$cache/apt
mkdir -p "$apt_dir"/{lists/partial,archives/partial}
{
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    awk 'function flush() { if (t ~ /deb/ && u ~ /debian/) for (i = 1; i <= ns; i++)
           printf "deb-src [signed-by=%s] %s %s %s\n", k, u, s[i], c; t = u = c = k = ""; ns = 0 }
         /^$/ { flush(); next } /^Types:/ { t = $2 } /^URIs:/ { u = $2 } /^Components:/ { $1 = ""; c = substr($0, 2) }
         /^Signed-By:/ { k = $2 } /^Suites:/ { ns = 0; for (i = 2; i <= NF; i++) s[++ns] = $i } END { flush() }' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ ! -e "$f" ] || sed -n 's/^deb \(.*debian.*\)/deb-src \1/p' "$f"
  done
} | sort -u >"$apt_dir/sources.list"
[ -s "$apt_dir/sources.list" ] || { echo "router-sdk: no Debian archive in /etc/apt" >&2; exit 1; }
apt_opts=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=- -o Dir::State::Lists="$apt_dir/lists"
  -o Dir::Cache="$apt_dir" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
if [ -z "$(find "$apt_dir/lists" -name '*Sources*' -mtime -1 -print -quit)" ]; then
  say "fetching the source package lists"
  apt-get "${apt_opts[@]}" update -qq
fi
versions() { apt-cache "${apt_opts[@]}" showsrc "$1" | sed -n 's/^Version: //p' | sort -u | sort -rV; }

# (The functions that make it are hashed below, once defined: editing the rest of the script
# does not make it again.)
keyed=$({ for p in "${srcpkgs[@]}"; do echo "$p $(versions "$p" | tr '\n' ' ')"; done
  echo "$libc"; ${cross}gcc --version | head -n1; })
exec 9>"$cache/.lock"
flock 9

# The compiler entry: Debian's cross gcc on uClibc-ng's headers, start files and libraries only.
# Its own search list holds glibc's cross libraries, so it is cut (link_libgcc) and only libgcc's
# archives (and libatomic's, over the C library's threads) are offered; the loader is uClibc-ng's (-muclibc), with the hash table it reads (sysv).
# No C++ run-time exists for uClibc-ng here: libstdc++ is an empty archive, so C++ code that needs
# none of it links, and code that does fails with the names it lacks.
make_bin() {  # make_bin DIR
  local d=$1 gccdir cxxinc=() t
  gccdir=$(dirname "$(${cross}gcc -print-libgcc-file-name)")
  mkdir -p "$d/bin" "$d/lib/gcc"
  cp "$gccdir/libgcc.a" "$gccdir/libgcc_eh.a" "$gccdir/libatomic.a" "$d/lib/gcc/"
  ${cross}ar rc "$d/lib/gcc/libstdc++.a"
  cp "$repo/cmake/small-libc-compat.h" "$d/lib/gcc/cxx-compat.h"
  printf '%s\n' '*link_libgcc:' '-L%R/usr/lib -L%R/lib' '' \
    '*libgcc:' '-lgcc %{static|static-libgcc|static-pie:-lgcc_eh}' '' \
    '*link:' '+ --hash-style=sysv' >"$d/lib/gcc/uclibc.specs"
  while read -r t; do cxxinc+=("$t"); done < <(${cross}g++ -E -v -x c++ /dev/null 2>&1 >/dev/null | sed -n 's#^ \(/.*/c++/.*\)#\1#p')
  for t in gcc g++; do
    {
      echo '#!/bin/sh'
      echo "# mipsel-linux-uclibc-$t: Debian's ${cross}$t on the SDK's uClibc-ng staging."
      echo 'sdk=$(cd "$(dirname "$0")/.." && pwd)'
      printf 'exec %s -muclibc --sysroot="$sdk/staging" -specs="$sdk/lib/gcc/uclibc.specs" -B"$sdk/staging/usr/lib/" -L"$sdk/lib/gcc" -nostdinc' "${cross}$t"
      # uClibc-ng's loader knows no STB_GNU_UNIQUE symbols (GCC's for C++ inline tables, such as
      # std::from_chars's): left unresolved, their code reads from address 0 plus an offset.
      [ $t = g++ ] && printf ' -fno-gnu-unique -isystem %s' "${cxxinc[@]}"
      printf ' -isystem %s -isystem %s -isystem "$sdk/staging/usr/include"' "$gccdir/include" "$gccdir/include-fixed"
      [ $t = g++ ] && printf ' -include "$sdk/lib/gcc/cxx-compat.h"'
      printf ' "$@"\n'
    } >"$d/bin/mipsel-linux-uclibc-$t"
  done
  ln -s mipsel-linux-uclibc-gcc "$d/bin/mipsel-linux-uclibc-cc"
  ln -s mipsel-linux-uclibc-g++ "$d/bin/mipsel-linux-uclibc-c++"
  printf '#!/bin/sh\nexec "$(dirname "$0")/mipsel-linux-uclibc-gcc" -E "$@"\n' >"$d/bin/mipsel-linux-uclibc-cpp"
  chmod +x "$d/bin/"*
  for t in ar ranlib nm strip objcopy objdump readelf ld as size strings addr2line; do
    ln -s "$(command -v ${cross}$t)" "$d/bin/mipsel-linux-uclibc-$t"
  done
}

# One CMake package built with the SDK, installed into the staging.
cmake_pkg() {  # cmake_pkg SRC [OPTIONS...]
  local src=$1
  shift
  cmake -S "$src" -B "$src/_b" -G Ninja -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=mips \
    -DCMAKE_C_COMPILER="$w/bin/mipsel-linux-uclibc-gcc" -DCMAKE_CXX_COMPILER="$w/bin/mipsel-linux-uclibc-g++" \
    -DCMAKE_FIND_ROOT_PATH="$w/staging" -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER \
    -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-Os -DNDEBUG" -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_INSTALL_LIBDIR=lib "$@" >"$src/_b.log" 2>&1 || { tail -n 40 "$src/_b.log"; return 1; }
  nice -n 5 ninja -C "$src/_b" -j$jobs >>"$src/_b.log" 2>&1 || { tail -n 40 "$src/_b.log"; return 1; }
  DESTDIR=$w/staging ninja -C "$src/_b" install >>"$src/_b.log" 2>&1 || { tail -n 40 "$src/_b.log"; return 1; }
}

build_base() {
  w=$(mktemp -d "$cache/build.XXXXXX")
  trap 'rm -rf "$uc" "$w"' EXIT
  mkdir -p "$w/src" "$w/staging/usr/lib/pkgconfig"
  cp -a "$libc/." "$w/staging/"
  # The rest of the kernel's headers beside the C library's (busybox's MTD and sound applets).
  local k
  for k in /usr/${cross%-}/include/{drm,misc,mtd,rdma,scsi,sound,video,xen}; do
    cp -a --no-clobber "$k" "$w/staging/usr/include/"
  done
  make_bin "$w"
  export PKG_CONFIG_DIR= PKG_CONFIG_PATH= PKG_CONFIG_LIBDIR=$w/staging/usr/lib/pkgconfig PKG_CONFIG_SYSROOT_DIR=$w/staging

  say "fetching the sources: ${srcpkgs[*]}"
  local p v
  for p in "${srcpkgs[@]}"; do
    # The newest version first; an archive may list a version whose files it no longer serves.
    for v in $(versions "$p"); do
      (cd "$w/src" && apt-get "${apt_opts[@]}" source -qq "$p=$v" >"$p.log" 2>&1) && break
      rm -rf "$w/src/$p"[-_]*
    done
    [ -d "$(ls -d "$w/src/$p"-*/ 2>/dev/null | head -n1)" ] || { cat "$w/src/$p.log"; exit 1; }
    say "  $p $v"
  done
  local s=$w/src t

  t=$SECONDS
  cmake_pkg "$(ls -d "$s"/cjson-*/)" -DENABLE_CJSON_TEST=OFF -DENABLE_CJSON_UTILS=OFF -DENABLE_CUSTOM_COMPILER_FLAGS=OFF \
    -DBUILD_SHARED_AND_STATIC_LIBS=OFF
  say "cJSON built in $((SECONDS - t)) s"

  # busybox as Debian configures its dynamic build (the applets the router uses), with the two
  # its static build adds (passwd hashing with SHA-256, telnetd, standalone).
  t=$SECONDS
  (cd "$(ls -d "$s"/busybox-*/)" &&
    cp debian/config/pkg/deb .config &&
    for o in PASSWD TELNETD FEATURE_TELNETD_STANDALONE FEATURE_PASSWD_WEAK_CHECK; do
      sed -i -e "/^CONFIG_$o=/d" -e "/^# CONFIG_$o is not set/d" .config && echo "CONFIG_$o=y" >>.config
    done &&
    sed -i -e 's/^CONFIG_FEATURE_TELNETD_PORT_DEFAULT=.*/CONFIG_FEATURE_TELNETD_PORT_DEFAULT=23/' \
      -e 's/^CONFIG_FEATURE_DEFAULT_PASSWD_ALGO=.*/CONFIG_FEATURE_DEFAULT_PASSWD_ALGO="sha256"/' \
      -e 's#^CONFIG_CROSS_COMPILER_PREFIX=.*#CONFIG_CROSS_COMPILER_PREFIX="'"$w"'/bin/mipsel-linux-uclibc-"#' .config &&
    (set +o pipefail; yes '' | make oldconfig >build.log 2>&1) &&
    nice -n 5 make -j$jobs >>build.log 2>&1 &&
    make CONFIG_PREFIX="$w/staging" install >>build.log 2>&1) ||
    { tail -n 40 "$(ls -d "$s"/busybox-*/)build.log"; exit 1; }
  say "busybox built in $((SECONDS - t)) s"

  # A TLS bridge and client: no engines, legacy ciphers, DTLS, SRP, CMP, compression, or tests.
  t=$SECONDS
  (cd "$(ls -d "$s"/openssl-*/)" &&
    ./Configure linux-mips32 no-async no-tests shared --prefix=/usr --openssldir=/etc/ssl --libdir=lib \
      CC="$w/bin/mipsel-linux-uclibc-gcc" AR="$w/bin/mipsel-linux-uclibc-ar" RANLIB="$w/bin/mipsel-linux-uclibc-ranlib" \
      no-engine no-legacy no-comp no-dtls no-srp no-idea no-mdc2 no-rc5 no-whirlpool no-seed no-camellia no-aria \
      no-sm2 no-sm3 no-sm4 no-cast no-bf no-gost no-md4 no-rmd160 no-siphash no-ssl3 no-weak-ssl-ciphers \
      no-nextprotoneg no-srtp no-rfc3779 no-cms no-ts no-cmp no-dsa no-ec2m no-scrypt no-ssl-trace -Os >build.log 2>&1 &&
    nice -n 5 make -j$jobs build_sw >>build.log 2>&1 &&
    make DESTDIR="$w/staging" install_sw >>build.log 2>&1) ||
    { tail -n 40 "$(ls -d "$s"/openssl-*/)build.log"; exit 1; }
  say "OpenSSL built in $((SECONDS - t)) s"

  t=$SECONDS
  local mq
  mq=$(ls -d "$s"/mosquitto-*/)
  # The broker binds a listener to an interface by name through getifaddrs, which uClibc-ng has
  # only with its AI_ADDRCONFIG option (scripts/target-uclibc.sh sets it).
  grep -q getifaddrs "$w/staging/usr/include/ifaddrs.h" || { echo "router-sdk: uClibc-ng lacks getifaddrs" >&2; exit 1; }
  cmake_pkg "$mq" -DCMAKE_INSTALL_SYSCONFDIR=/etc -DDOCUMENTATION=OFF -DWITH_SRV=OFF -DWITH_WEBSOCKETS=OFF \
    -DWITH_DLT=OFF -DWITH_SYSTEMD=OFF -DWITH_STATIC_LIBRARIES=OFF -DWITH_PLUGINS=OFF -DWITH_APPS=ON -DWITH_CJSON=ON \
    -DOPENSSL_ROOT_DIR="$w/staging/usr" -DCMAKE_CXX_FLAGS_RELEASE="-Os -DNDEBUG" -DWITH_LIB_CPP=OFF
  say "mosquitto built in $((SECONDS - t)) s"

  for p in cjson openssl mosquitto busybox; do
    echo "$p $(sed -n 's/^Version: //p' "$s/$p"_*.dsc)"
  done >"$w/versions.txt"
  rm -rf "$w/src"
  rm -rf "$base"
  mv "$w" "$base"
  touch "$base/.done"
  trap 'rm -rf "$uc"' EXIT
}

key=$({ echo "$keyed"; declare -f make_bin cmake_pkg build_base; } | sha256sum | cut -c1-16)
base=$cache/$key
if [ -f "$base/.done" ]; then
  say "cached in $base"
else
  say "building into $base (cold: OpenSSL is most of it, some minutes)"
  build_base
  say "third-party part built (cold) in $((SECONDS - t0)) s"
fi

# Our stand-ins for the firmware's platform libraries, over a copy of the base, as a vendor's SDK
# holds them: the libraries in usr/lib, the store tool in usr/bin; and the Ethernet driver's
# double (libbrim_ethdriver.so, preloaded in the emulated router).
pkey=$({ echo "$key"; sed -n '/^# Our stand-ins/,$p' "$0"; cat "$repo/platform/CMakeLists.txt"; find "$repo/platform/apmib" "$repo/platform/vzmqtt" \
  "$repo/brimlib/common" "$repo/include" "$repo/CMakeLists.txt" -type f | LC_ALL=C sort | xargs cat; } | sha256sum | cut -c1-16)
full=$cache/$key-$pkey
if [ ! -f "$full/.done" ]; then
  say "building our stand-ins for the platform libraries"
  w=$(mktemp -d "$cache/build.XXXXXX")
  trap 'rm -rf "$uc" "$w"' EXIT
  cp -a "$base/." "$w/"
  rm -f "$w/.done"
  # The compiler entry as this script makes it (the base holds the one that built it).
  rm -rf "$w/bin" "$w/lib/gcc"
  make_bin "$w"
  # The archive tools with gcc's LTO plugin, which CMake asks for to optimise a library as a whole.
  for t in gcc-ar gcc-nm gcc-ranlib; do
    ln -s "$(command -v ${cross}$t)" "$w/bin/mipsel-linux-uclibc-$t"
  done
  # The C library's linker script names its parts by absolute paths, which the linker finds only
  # under the sysroot it was given: by name instead, so that a copy of the staging (or a -L on it)
  # links too.
  sed -i '/^GROUP/s#\([( ]\)/\(usr/\)\{0,1\}lib/#\1#g' "$w/staging/usr/lib/libc.so"
  export PKG_CONFIG_DIR= PKG_CONFIG_PATH= PKG_CONFIG_LIBDIR=$w/staging/usr/lib/pkgconfig PKG_CONFIG_SYSROOT_DIR=$w/staging
  mkdir -p "$w/platform"
  cmake -S "$repo" -B "$w/platform/b" -G Ninja -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=mips \
    -DCMAKE_C_COMPILER="$w/bin/mipsel-linux-uclibc-gcc" -DCMAKE_CXX_COMPILER="$w/bin/mipsel-linux-uclibc-g++" \
    -DCMAKE_FIND_ROOT_PATH="$w/staging" -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER \
    -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-Os -DNDEBUG" -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_TESTING=OFF -DCMAKE_SKIP_RPATH=TRUE >"$w/platform/log" 2>&1 &&
    nice -n 5 ninja -C "$w/platform/b" -j$jobs apmib vzmqtt apmib_tool brim_ethdriver >>"$w/platform/log" 2>&1 &&
    DESTDIR=$w/platform/root cmake --install "$w/platform/b" --component platform >>"$w/platform/log" 2>&1 ||
    { tail -n 40 "$w/platform/log"; exit 1; }
  cp -a "$w/platform/root/usr/lib/"lib*.so "$w/platform/b/platform/ethdriver/lib/"*/libbrim_ethdriver.so "$w/staging/usr/lib/"
  cp -a "$w/platform/root/usr/bin/apmib" "$w/staging/usr/bin/"
  rm -rf "$w/platform"
  # Older full entries of this base go: each is a copy of it.
  find "$cache" -maxdepth 1 -name "$key-*" ! -name "$key-$pkey" -exec rm -rf {} +
  rm -rf "$full"
  mv "$w" "$full"
  touch "$full/.done"
fi
ln -sfn "$full" "$out"

# What a program built with it needs: uClibc-ng's loader, and no glibc.
echo 'int main(void) { return 0; }' >"$uc/t.c"
"$out/bin/mipsel-linux-uclibc-gcc" -o "$uc/t" "$uc/t.c"
${cross}readelf -l "$uc/t" | grep -q 'interpreter: /lib/ld-uClibc.so.0' || { echo "router-sdk: wrong loader" >&2; exit 1; }
! ${cross}readelf -d "$uc/t" | grep -E 'NEEDED.*(libc\.so\.6|ld\.so\.1)' || { echo "router-sdk: glibc leaked in" >&2; exit 1; }
sed 's/^/router-sdk:   /' "$full/versions.txt"
say "ready: $out -> $full ($(du -sh "$full/staging" | cut -f1) staging)"
