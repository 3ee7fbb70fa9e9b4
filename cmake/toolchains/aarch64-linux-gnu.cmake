# Cross build for 64-bit ARM Linux with Debian's cross compiler and multiarch
# libraries (gcc-aarch64-linux-gnu, lib*-dev:arm64); tests run under qemu-aarch64.
set(PELMO_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
# QEMU's "max" CPU has every optional instruction QEMU emulates (AES, PMULL, SM3,
# SM4, ...), so every kernel that checks for one runs in the tests.
set(PELMO_QEMU_CPU max CACHE STRING "CPU model qemu-aarch64 emulates for the tests")
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
