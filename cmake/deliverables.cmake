# SPDX-License-Identifier: MIT
# Flags and helpers shared by every user-space deliverable.
#
# Deliverables are C++ behind a C interface and must need nothing but libc:
# no exceptions, no RTTI, hidden symbols unless exported on purpose.
set(DELIVERABLE_CXX_FLAGS -fno-exceptions -fno-rtti -fvisibility=hidden
                          -fvisibility-inlines-hidden -Wconversion -Wsign-conversion
                          # -O3 laid the list walks out one instruction
                          # longer per node: 20% slower on a million nodes.
                          $<$<CONFIG:Release>:-O2>)

# deliver_object(<target> <name>): copy the single object of OBJECT library
# <target> to <name>.o beside the folder's other outputs, where users find it,
# and install it into OBJECT_INSTALL_DIR when the folder sets one.
function(deliver_object target name)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${name}.o)
    add_custom_command(
        OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_OBJECTS:${target}> ${out}
        DEPENDS ${target} $<TARGET_OBJECTS:${target}>
        COMMAND_EXPAND_LISTS VERBATIM)
    add_custom_target(${name}_o ALL DEPENDS ${out})
    set_property(TARGET ${target} PROPERTY DELIVERED_OBJECT ${out})
    if(DEFINED OBJECT_INSTALL_DIR)
        install(FILES ${out} DESTINATION ${OBJECT_INSTALL_DIR})
    endif()
endfunction()
