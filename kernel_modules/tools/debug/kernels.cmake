# SPDX-License-Identifier: MIT
# Debug kernels: Debian's Linux 6.1 source built small with the kernel's own
# checkers (debug-kernel.sh beside this folder), into <cache>/debug-<name>/ from
# common.config and <name>.config, and both modules built against each into
# build/kernel_modules/debug-<name>/. Built only with -DDEBUG_KERNELS=ON
# (the preset "default" turns it on): about 5 minutes each on 2 cores, once, and
# again when their fragments or the source package change. The builds take
# turns, each using make -j2.
#   kasan: KASAN (generic) and kmemleak
#   kcsan: KCSAN, strict
# Both: full preemption, lockdep, sleeping in atomic context, lockups and
# hung tasks.
set(DEBUG_KERNEL_NAMES)
if(DEBUG_KERNELS)
    set(DEBUG_KERNEL_NAMES kasan kcsan)
endif()
set(debug_kernel_source /usr/src/linux-source-6.1.tar.xz)
set(built_all)
set(previous)
foreach(name IN LISTS DEBUG_KERNEL_NAMES)
    set(kernel ${KERNEL_CACHE}/debug-${name})
    set(fragments ${CMAKE_CURRENT_LIST_DIR}/common.config ${CMAKE_CURRENT_LIST_DIR}/${name}.config)
    set(depends ${fragments} ${previous})
    if(EXISTS ${debug_kernel_source}) # else the script says which package it needs
        list(APPEND depends ${debug_kernel_source})
    endif()
    # USES_TERMINAL: its progress lines as they come (Ninja would hold them
    # back), one kernel at a time.
    add_custom_command(
        OUTPUT ${kernel}/.complete
        COMMAND ${CMAKE_CURRENT_LIST_DIR}/../debug-kernel.sh ${kernel} ${fragments}
        DEPENDS ${depends}
        USES_TERMINAL
        COMMENT "Building the ${name} debug kernel from Debian's Linux 6.1 source, unless cached"
        VERBATIM)
    # The other waits: under make the two would otherwise build at once.
    set(previous ${kernel}/.complete)
    add_module_builds(debug-${name} ${kernel} built ${kernel}/.complete)
    list(APPEND built_all ${built})
endforeach()
if(DEBUG_KERNELS)
    add_custom_target(kernel_modules_debug ALL DEPENDS ${built_all})
endif()
set(DEBUG_KERNEL_NAMES ${DEBUG_KERNEL_NAMES} PARENT_SCOPE)
