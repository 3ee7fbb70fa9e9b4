# Shared part of the Debian cross toolchains: the including file sets
# PELMO_CROSS_TRIPLE, CMAKE_SYSTEM_PROCESSOR and PELMO_QEMU_CPU.
#
# The target's libraries are Debian multiarch packages, installed beside the host's
# (/usr/lib/<triple>, /usr/include/<triple>), so there is no separate sysroot: the
# compiler and CMake find them through the library architecture.
#
# qemu-<arch> -L /usr/<triple> runs the target's binaries with the loader of the cross
# C library (/usr/<triple>/lib, which the binaries were linked against). The C library
# itself must come from the same place: the loader would otherwise take the multiarch
# libc6:<arch> from the system's cache, a different build of glibc than the loader,
# and that pair crashes at start-up (s390x) or hangs creating a thread (arm64). GMP and
# libcrypto still come from the multiarch directories.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${PELMO_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${PELMO_CROSS_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${PELMO_CROSS_TRIPLE})

# pkg-config (used by CMake's FindOpenSSL for hints) must see the target's .pc files.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${PELMO_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig)

string(REGEX REPLACE "-.*" "" _pelmo_qemu_arch ${PELMO_CROSS_TRIPLE})
find_program(PELMO_QEMU qemu-${_pelmo_qemu_arch} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PELMO_QEMU} -L /usr/${PELMO_CROSS_TRIPLE} -E
                                  LD_LIBRARY_PATH=/usr/${PELMO_CROSS_TRIPLE}/lib)
if(PELMO_QEMU_CPU)
  list(APPEND CMAKE_CROSSCOMPILING_EMULATOR -cpu ${PELMO_QEMU_CPU})
endif()
