# SPDX-License-Identifier: MIT
# vm_limits(<test> <VMs> [SCENARIO <seconds>] [BOOT <seconds>]): the CTest
# TIMEOUT of a test that runs <VMs> VMs one after the other through vm.sh,
# the sum of what they may take by the limits in vm-limits (or those given,
# which the test's VMs get in their environment): each VM VM_BOOTS boots of
# at most its boot limit, the last one then its scenario; and the host's part.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/vm-limits vm_limits REGEX "^[A-Z_]+=[0-9]+$")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/vm-limits)
foreach(line IN LISTS vm_limits)
    string(REPLACE "=" ";" line ${line})
    list(GET line 0 name)
    list(GET line 1 ${name})
endforeach()
function(vm_limits test vms)
    cmake_parse_arguments(PARSE_ARGV 2 limit "" "SCENARIO;BOOT" "")
    foreach(kind IN ITEMS SCENARIO BOOT)
        if(NOT limit_${kind})
            set(limit_${kind} ${VM_${kind}_LIMIT})
        endif()
    endforeach()
    math(EXPR timeout "${vms} * (${VM_BOOTS} * ${limit_BOOT} + ${limit_SCENARIO}) + ${VM_HOST_LIMIT}")
    set_property(TEST ${test} PROPERTY TIMEOUT ${timeout})
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT VM_BOOT_LIMIT=${limit_BOOT}
                                                          VM_SCENARIO_LIMIT=${limit_SCENARIO})
endfunction()
