# SPDX-License-Identifier: MIT
# GoogleTest for a cross build, whose target has no GoogleTest installed
# here: from Debian's sources of it (package googletest, which libgtest-dev
# brings), with the targets GTest::... that the installed package names.
#
# When the build names a folder GOOGLETEST_CACHE (the suite's cross builds
# do), it is built once for each triplet, compiler, googletest version and
# build type into a folder of its own there, and later cross builds take it
# from there: compiling it is most of a cross build's time. It is installed
# into a staging folder first and renamed into place, so that a failed or
# concurrent build leaves no half of one behind. Without GOOGLETEST_CACHE it
# is built along with the tests.
set(googletest /usr/src/googletest)
if(NOT GOOGLETEST_CACHE)
    set(INSTALL_GTEST OFF)
    add_subdirectory(${googletest} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    # Not our code: its warnings (gcc 12 has a false -Wrestrict in it) are not ours to mend.
    foreach(lib IN ITEMS gtest gtest_main gmock gmock_main)
        target_compile_options(${lib} PRIVATE -w)
    endforeach()
    return()
endif()

execute_process(COMMAND dpkg-query -W -f=\${Version} googletest OUTPUT_VARIABLE version ERROR_QUIET)
string(SHA256 key "${version} ${CMAKE_CXX_COMPILER} ${CMAKE_CXX_COMPILER_VERSION} ${CMAKE_BUILD_TYPE} ${CMAKE_CXX_STANDARD}")
string(SUBSTRING ${key} 0 16 key)
set(prefix ${GOOGLETEST_CACHE}/${CROSS_TRIPLET}-${key})
if(NOT EXISTS ${prefix}/lib/cmake/GTest/GTestConfig.cmake)
    string(RANDOM LENGTH 8 stage)
    set(stage ${GOOGLETEST_CACHE}/.stage-${stage})
    message(NOTICE "googletest.cmake: building GoogleTest ${version} for ${CROSS_TRIPLET} into ${prefix}, once (about 30 s)")
    # googletest_step(<step> <cmake's arguments>...): the staging folder
    # taken away and the configure stopped, saying why, when it fails.
    function(googletest_step step)
        execute_process(COMMAND ${CMAKE_COMMAND} ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE said ERROR_VARIABLE said)
        if(failed)
            file(REMOVE_RECURSE ${stage})
            message(FATAL_ERROR "googletest.cmake: GoogleTest's ${step} for ${CROSS_TRIPLET} failed:\n${said}")
        endif()
    endfunction()
    # Compiled as the tests are (their standard and build type), its own
    # warnings silenced as above.
    googletest_step(configure -S ${googletest} -B ${stage}/build -G ${CMAKE_GENERATOR} --toolchain ${CMAKE_TOOLCHAIN_FILE}
                    -DCROSS_TRIPLET=${CROSS_TRIPLET} -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
                    -DCMAKE_CXX_STANDARD=${CMAKE_CXX_STANDARD} -DCMAKE_CXX_FLAGS=-w -DCMAKE_INSTALL_LIBDIR=lib)
    googletest_step(build --build ${stage}/build -j2)
    googletest_step(install --install ${stage}/build --prefix ${stage}/install)
    # Another build may have put one there meanwhile: that one stays (a
    # folder is not renamed over one that holds files).
    file(RENAME ${stage}/install ${prefix} RESULT renamed)
    file(REMOVE_RECURSE ${stage})
endif()
set(GTest_DIR ${prefix}/lib/cmake/GTest)
find_package(GTest CONFIG REQUIRED NO_CMAKE_FIND_ROOT_PATH)
