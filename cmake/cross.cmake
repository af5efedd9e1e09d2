# SPDX-License-Identifier: MIT
# Toolchain file: the user space cross-built for the architecture whose GNU
# triplet CROSS_TRIPLET names (a row of arches.table), by Debian's cross
# compiler of the host's gcc (g++-12-<triplet>), which brings that
# architecture's libc in /usr/<triplet>. The tests run the programs under
# the row's qemu user-mode emulator (qemu-user-static) with that libc as the
# root of their libraries: no binfmt_misc, which a container lacks, and no
# root of that architecture; those of this machine's 32-bit companion
# natively where it runs them (i386 on x86-64, its libc from the multilib
# packages).
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
# The programs of this machine's 32-bit companion (its row's compat) run
# natively where it runs them, which small programs of that architecture
# show once per configure: a static one, that the kernel runs them (an
# x86-64 kernel may lack IA32 emulation, or have it off), and a dynamic C++
# one, that their loader and libraries are here (multilib's). Elsewhere, and
# for every other row, they run under the row's emulator. CROSS_RUNS keeps
# the answer for try_compile's projects.
if(NOT DEFINED ENV{CROSS_RUNS})
    set(ENV{CROSS_RUNS} emulated)
    set(why "no ${cross_arch} program runs natively on a ${HOST_ARCH} machine")
    if(cross_arch STREQUAL ARCH_${HOST_ARCH}_compat)
        set(ENV{CROSS_RUNS} native)
        set(probe ${CMAKE_BINARY_DIR}/CMakeFiles/runs-natively)
        file(WRITE ${probe}.cpp "int main() { delete new int; }\n")
        foreach(kind IN ITEMS static dynamic)
            set(ran "not built")
            set(link)
            if(kind STREQUAL static)
                set(link -static)
            endif()
            execute_process(COMMAND ${CROSS_TRIPLET}-g++-12 ${link} -o ${probe} ${probe}.cpp
                            RESULT_VARIABLE built ERROR_VARIABLE why)
            if(built EQUAL 0)
                execute_process(COMMAND ${probe} RESULT_VARIABLE ran OUTPUT_QUIET ERROR_QUIET)
                set(why "a ${kind} ${cross_arch} program gave \"${ran}\" here")
            endif()
            if(NOT ran EQUAL 0)
                set(ENV{CROSS_RUNS} emulated)
                break()
            endif()
        endforeach()
    endif()
    if($ENV{CROSS_RUNS} STREQUAL native)
        message(NOTICE "cross.cmake: ${cross_arch}'s programs run natively here")
    else()
        string(STRIP "${why}" why)
        message(NOTICE "cross.cmake: ${cross_arch}'s programs run under ${ARCH_${cross_arch}_user} (${why})")
    endif()
endif()
if($ENV{CROSS_RUNS} STREQUAL emulated)
    find_program(CROSS_EMULATOR ${ARCH_${cross_arch}_user} NO_CACHE)
    if(NOT CROSS_EMULATOR)
        message(FATAL_ERROR "${ARCH_${cross_arch}_user}, which runs ${cross_arch}'s programs here, is missing: run scripts/setup.sh (package qemu-user-static)")
    endif()
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ARCH_${cross_arch}_user} -L /usr/${CROSS_TRIPLET})
    if(cross_arch STREQUAL ARCH_${HOST_ARCH}_compat)
        # The loader reads this machine's /etc/ld.so.cache, which lists its
        # multilib libraries of that architecture (/lib32): a libc of another
        # build than the loader's, with which a forked child hangs.
        list(APPEND CMAKE_CROSSCOMPILING_EMULATOR -E LD_LIBRARY_PATH=/usr/${CROSS_TRIPLET}/lib)
    endif()
endif()
# pkg-config reads the target's .pc files only, not the host's: those of
# its libc's root and those of its packages installed here by multiarch
# (in /usr/lib/<Debian's multiarch name>, i386-linux-gnu for i686).
execute_process(COMMAND dpkg-architecture -a${cross_arch} -qDEB_HOST_MULTIARCH
                OUTPUT_VARIABLE multiarch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${multiarch}/pkgconfig:/usr/${CROSS_TRIPLET}/lib/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} /)
