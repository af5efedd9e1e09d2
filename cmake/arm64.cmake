# SPDX-License-Identifier: MIT
# Toolchain file: the user space cross-built for 64-bit Arm by Debian's cross
# compiler of the host's gcc (g++-12-aarch64-linux-gnu), which brings its own
# arm64 libc in /usr/aarch64-linux-gnu. The tests run the programs under
# qemu's user-mode emulation (qemu-user-static) named as the emulator, with
# that libc as the root of their libraries: no binfmt_misc, which a
# container lacks, and no arm64 root.
#   cmake --preset arm64      or   cmake --toolchain cmake/arm64.cmake ...
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc-12)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++-12)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L /usr/aarch64-linux-gnu)
# pkg-config reads the target's .pc files only, not the host's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/aarch64-linux-gnu/lib/pkgconfig)
