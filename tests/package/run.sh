#!/bin/sh
# Packaging checks of pelmo as a new user meets it: a shared libpelmo built alone and
# installed into a temporary prefix, then used through pkg-config and find_package, and
# pelmo vendored by a parent project.
#
#   run.sh STEP SOURCE_DIR WORK_DIR CXX CMAKE
#
# STEP: install   build libpelmo.so alone (tests, tool, benchmarks off) and install it
#       exports   libpelmo.so.0 is the SONAME and only the public interface is exported
#       pkgconfig a program built with `pkg-config --cflags --libs pelmo` only
#       cmake     a program built with find_package(pelmo 0.2 CONFIG)
#       vendored  add_subdirectory(pelmo) leaves the parent's CMAKE_BUILD_TYPE alone and
#                 installs nothing of pelmo
set -eu
step=$1 src=$2 work=$3 cxx=$4 cmake=$5
here=$(cd "$(dirname "$0")" && pwd)
prefix=$work/prefix

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

libdir() {
    d=$(dirname "$(find "$prefix" -name 'libpelmo.so.0' | head -n 1)")
    [ -d "$d" ] || fail "no libpelmo.so.0 under $prefix (did the install step run?)"
    echo "$d"
}

# What the consumer programs must print.
expected() {
    printf '%s\n' "pelmo 0.2.0" \
        "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0" \
        "signed and verified" "你好"
}

case $step in
install)
    rm -rf "$work/build" "$prefix"
    "$cmake" -S "$src" -B "$work/build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_COMPILER="$cxx" \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON -DPELMO_WERROR=ON \
        -DPELMO_BUILD_TESTS=OFF -DPELMO_BUILD_TOOLS=OFF -DPELMO_BUILD_BENCHMARKS=OFF >/dev/null
    "$cmake" --build "$work/build" -j2 >/dev/null
    "$cmake" --install "$work/build" >/dev/null
    ls -l "$(libdir)"
    ;;
exports)
    lib=$(libdir)/libpelmo.so.0
    soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
    [ "$soname" = "libpelmo.so.0" ] || fail "SONAME is '$soname', not libpelmo.so.0"
    [ -L "$(libdir)/libpelmo.so" ] || fail "no libpelmo.so link for the linker"
    nm -D --defined-only "$lib" | c++filt | cut -d' ' -f3- >"$work/exports.txt"
    echo "$(wc -l <"$work/exports.txt") exported symbols"
    # The public namespaces, and the type information and vtables of their classes, which
    # the C++ ABI requires next to an exported class. Nothing internal, nothing of std::.
    api='pelmo::(sm2|sm3|sm4|func|crypt_managers|formats)::|pelmo::(version|as_bytes)\('
    bad=$(grep -Ev "^((typeinfo|typeinfo name|vtable) for )?($api)" "$work/exports.txt" || true)
    bad2=$(grep -E 'detail|anonymous namespace' "$work/exports.txt" || true)
    [ -z "$bad$bad2" ] || fail "exported but not public interface:
$bad
$bad2"
    for want in 'pelmo::version()' 'pelmo::sm3::sm3_hash' 'pelmo::sm2::default_ecc_table' \
        'pelmo::sm2::CryptSM2::generate_key_pair(' 'pelmo::sm4::gcm_seal(' \
        'pelmo::crypt_managers::SM4Manager::SM4Manager('; do
        grep -qF "$want" "$work/exports.txt" || fail "$want is not exported"
    done
    ;;
pkgconfig)
    export PKG_CONFIG_PATH="$(libdir)/pkgconfig"
    pkg-config --exists pelmo || fail "pkg-config does not find pelmo.pc"
    [ "$(pkg-config --modversion pelmo)" = "0.2.0" ] || fail "pelmo.pc version"
    # shellcheck disable=SC2046
    "$cxx" -std=c++20 -o "$work/consumer_pc" "$here/consumer.cpp" $(pkg-config --cflags --libs pelmo)
    LD_LIBRARY_PATH=$(libdir) "$work/consumer_pc" >"$work/pc.out"
    expected | cmp -s - "$work/pc.out" || fail "pkg-config consumer printed: $(cat "$work/pc.out")"
    ;;
cmake)
    rm -rf "$work/cmake_consumer"
    "$cmake" -S "$here/cmake_consumer" -B "$work/cmake_consumer" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_CXX_COMPILER="$cxx" -DCONSUMER_SOURCE="$here/consumer.cpp" >/dev/null
    "$cmake" --build "$work/cmake_consumer" >/dev/null
    "$work/cmake_consumer/consumer" >"$work/cmake.out"
    expected | cmp -s - "$work/cmake.out" || fail "CMake consumer printed: $(cat "$work/cmake.out")"
    ;;
vendored)
    rm -rf "$work/vendored"
    "$cmake" -S "$here/vendored" -B "$work/vendored" -DPELMO_SOURCE_DIR="$src" \
        -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
    cache=$work/vendored/CMakeCache.txt
    if grep -Eq '^CMAKE_BUILD_TYPE:[A-Z]*=.+' "$cache"; then
        fail "the parent's cache has $(grep '^CMAKE_BUILD_TYPE' "$cache")"
    fi
    grep -q '^PELMO_INSTALL:BOOL=OFF' "$cache" || fail "PELMO_INSTALL is not off when vendored"
    if grep -rqs 'pelmoTargets\|libpelmo' "$work/vendored/pelmo/cmake_install.cmake" \
        "$work/vendored/pelmo/src/cmake_install.cmake"; then
        fail "a vendored pelmo installs itself"
    fi
    ;;
*)
    fail "unknown step $step"
    ;;
esac
