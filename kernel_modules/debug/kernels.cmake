# SPDX-License-Identifier: MIT
# Debug kernels: Debian's Linux 6.1 source built small with the kernel's own
# checkers (scripts/debug-kernel.sh), into <cache>/debug-<name>/ from
# common.config and <name>.config, and both modules built against each into
# build/kernel_modules/debug-<name>/. A kernel is rebuilt when its fragments
# or the source package change; the two builds take turns, each using
# make -j2.
#   kasan: KASAN (generic) and kmemleak
#   kcsan: KCSAN, strict
# Both: full preemption, lockdep, sleeping in atomic context, lockups and
# hung tasks.
set(DEBUG_KERNELS kasan kcsan)
set(debug_kernel_source /usr/src/linux-source-6.1.tar.xz)
set_property(GLOBAL APPEND PROPERTY JOB_POOLS debug_kernel=1)
foreach(name IN LISTS DEBUG_KERNELS)
    set(kernel ${KERNEL_CACHE}/debug-${name})
    set(fragments ${CMAKE_CURRENT_LIST_DIR}/common.config ${CMAKE_CURRENT_LIST_DIR}/${name}.config)
    set(depends ${fragments})
    if(EXISTS ${debug_kernel_source}) # else the script says which package it needs
        list(APPEND depends ${debug_kernel_source})
    endif()
    add_custom_command(
        OUTPUT ${kernel}/.complete
        COMMAND ${PROJECT_SOURCE_DIR}/scripts/debug-kernel.sh ${kernel} ${fragments}
        DEPENDS ${depends}
        JOB_POOL debug_kernel
        COMMENT "Building the ${name} debug kernel from Debian's Linux 6.1 source"
        VERBATIM)
    add_module_builds(debug-${name} ${kernel} built ${kernel}/.complete)
    add_custom_target(kernel_modules_debug-${name} ALL DEPENDS ${built})
endforeach()
set(DEBUG_KERNELS ${DEBUG_KERNELS} PARENT_SCOPE)
