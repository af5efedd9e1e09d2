# SPDX-License-Identifier: MIT
# The architectures' table (arches.table beside this file) for CMake: ARCHES,
# the names of its rows in order, and ARCH_<arch>_<field> for every field of
# every row ("-" for none). HOST_ARCH is the row of the machine the build runs
# on, found by its triplet. Included by the top CMakeLists.txt and by the
# cross toolchain file.
include_guard(GLOBAL)
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/arches.table arch_lines REGEX "^[^#].*[|]")
set(ARCHES)
set(arch_fields)
foreach(line IN LISTS arch_lines)
    string(REPLACE "|" ";" cells "${line}")
    list(TRANSFORM cells STRIP)
    if(NOT arch_fields)
        set(arch_fields ${cells})
        continue()
    endif()
    list(GET cells 0 arch)
    list(APPEND ARCHES ${arch})
    foreach(field IN LISTS arch_fields)
        list(POP_FRONT cells value)
        set(ARCH_${arch}_${field} "${value}")
    endforeach()
    if(ARCH_${arch}_triplet STREQUAL "${CMAKE_HOST_SYSTEM_PROCESSOR}-linux-gnu")
        set(HOST_ARCH ${arch})
    endif()
endforeach()
