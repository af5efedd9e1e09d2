# SPDX-License-Identifier: MIT
# Toolchain file: the user space cross-built for the architecture whose GNU
# triplet CROSS_TRIPLET names (a row of arches.table), by Debian's cross
# compiler of the host's gcc (g++-12-<triplet>), which brings that
# architecture's libc in /usr/<triplet>. The tests run the programs under
# the row's qemu user-mode emulator (qemu-user-static) with that libc as the
# root of their libraries: no binfmt_misc, which a container lacks, and no
# root of that architecture. A row without an emulator runs them natively
# (i386 on x86-64, its libc from the multilib packages).
#   cmake -G Ninja -B build/cross/armhf --toolchain cmake/cross.cmake -DCROSS_TRIPLET=arm-linux-gnueabihf
if(NOT CROSS_TRIPLET AND DEFINED ENV{CROSS_TRIPLET})
    set(CROSS_TRIPLET $ENV{CROSS_TRIPLET})
endif()
include(${CMAKE_CURRENT_LIST_DIR}/arches.cmake)
set(cross_arch)
foreach(arch IN LISTS ARCHES)
    if(ARCH_${arch}_triplet STREQUAL "${CROSS_TRIPLET}")
        set(cross_arch ${arch})
    endif()
endforeach()
if(NOT cross_arch)
    message(FATAL_ERROR "CROSS_TRIPLET='${CROSS_TRIPLET}' is no triplet of cmake/arches.table")
endif()
# try_compile's projects read this file again: they need the triplet too.
set(ENV{CROSS_TRIPLET} ${CROSS_TRIPLET})
set(CROSS_ARCH ${cross_arch})

set(CMAKE_SYSTEM_NAME Linux)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${CROSS_TRIPLET})
set(CMAKE_C_COMPILER ${CROSS_TRIPLET}-gcc-12)
set(CMAKE_CXX_COMPILER ${CROSS_TRIPLET}-g++-12)
set(CMAKE_FIND_ROOT_PATH /usr/${CROSS_TRIPLET} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(NOT ARCH_${cross_arch}_user STREQUAL "-")
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ARCH_${cross_arch}_user} -L /usr/${CROSS_TRIPLET})
endif()
# pkg-config reads the target's .pc files only, not the host's: those of
# its libc's root and those of its packages installed here by multiarch
# (in /usr/lib/<Debian's multiarch name>, i386-linux-gnu for i686).
execute_process(COMMAND dpkg-architecture -a${cross_arch} -qDEB_HOST_MULTIARCH
                OUTPUT_VARIABLE multiarch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${multiarch}/pkgconfig:/usr/${CROSS_TRIPLET}/lib/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} /)
