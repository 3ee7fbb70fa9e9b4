# Cross build for big-endian 64-bit IBM Z Linux with Debian's cross compiler and
# multiarch libraries (gcc-s390x-linux-gnu, lib*-dev:s390x); tests run under
# qemu-s390x.
set(PELMO_CROSS_TRIPLE s390x-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(PELMO_QEMU_CPU "" CACHE STRING "CPU model qemu-s390x emulates for the tests (empty: QEMU's default)")
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
