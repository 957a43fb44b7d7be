# Build the consumer project with its two commands, against the installed
# package (PREFIX) or the source tree as a subproject (SOURCE_DIR), and run
# the user-library test and the emulator on the results.
#   cmake -DWORK_DIR=... -DTEST_EXE=... -DDELIVERED=... [-DHOST_EXE=...]
#         (-DPREFIX=... | -DSOURCE_DIR=...) -P run.cmake
# Optional: -DEXTRA_ARGS=... (passed to the consumer configure),
# -DLIB_NAME=... (the library file the consumer builds) and
# -DEXPECT_NEEDED=... (a library its dynamic section must name).
foreach(var WORK_DIR TEST_EXE DELIVERED)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${var} not set")
    endif()
endforeach()
if(NOT DEFINED LIB_NAME)
    set(LIB_NAME libconsumer.so)
endif()

function(run)
    execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "failed (${rc}): ${ARGV}")
    endif()
endfunction()

if(DEFINED PREFIX)
    set(how "-DCMAKE_PREFIX_PATH=${PREFIX}")
elseif(DEFINED SOURCE_DIR)
    set(how "-DVULMORA_SOURCE_DIR=${SOURCE_DIR}")
else()
    message(FATAL_ERROR "PREFIX or SOURCE_DIR must be set")
endif()

file(REMOVE_RECURSE "${WORK_DIR}")
run("${CMAKE_COMMAND}" -S "${CMAKE_CURRENT_LIST_DIR}" -B "${WORK_DIR}/build" -G Ninja "${how}"
    "-DCONSUMER_REFERENCE=${WORK_DIR}/reference" ${EXTRA_ARGS})
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/build")
run("${CMAKE_COMMAND}" -E env "VULMORA_USER_LIB=${WORK_DIR}/build/${LIB_NAME}"
    "VULMORA_LIB=${DELIVERED}" "${TEST_EXE}")
# The C++ library's one entry point is the user's, not a placeholder.
# So is the working entry point of the installed template.
if(DEFINED HOST_EXE)
    run("${HOST_EXE}" --library "${WORK_DIR}/build/libconsumer_cxx.so" --functions emissivity
        --nodes-per-side 4 --steps 1 --no-output --quiet)
    if(DEFINED PREFIX)
        run("${HOST_EXE}" --library "${WORK_DIR}/build/libconsumer_template.so"
            --functions convehtransfer --nodes-per-side 4 --steps 1 --no-output --quiet)
        # The user's host tests through ctest, with CTest's JUnit report: the
        # reference saved by its update target, then the library passes and
        # its changed copy fails.
        run("${CMAKE_COMMAND}" --build "${WORK_DIR}/build" --target
            consumer_host_same_update_reference)
        if(NOT EXISTS "${WORK_DIR}/reference/density.values")
            message(FATAL_ERROR "the update target saved no reference")
        endif()
        run("${CMAKE_COMMAND}" --build "${WORK_DIR}/build" --target consumer_curve_update_reference)
        run("${CMAKE_COMMAND}" -E chdir "${WORK_DIR}/build" "${CMAKE_CTEST_COMMAND}"
            -R "consumer_(host_(runs|same)|curve|by_hand)$" --output-on-failure
            --output-junit junit.xml)
        execute_process(COMMAND "${CMAKE_CTEST_COMMAND}" -R consumer_host_changed
                                --output-on-failure
                        WORKING_DIRECTORY "${WORK_DIR}/build" RESULT_VARIABLE rc
                        OUTPUT_VARIABLE out ERROR_VARIABLE out)
        if(rc EQUAL 0 OR NOT out MATCHES "func_density +DIFFERS")
            message(FATAL_ERROR "the changed library passed its host test:\n${out}")
        endif()
        # A curve: the changed library differs, and passes once its run is
        # saved as the reference.
        execute_process(COMMAND "${CMAKE_CTEST_COMMAND}" -R consumer_changed_curve
                                --output-on-failure
                        WORKING_DIRECTORY "${WORK_DIR}/build" RESULT_VARIABLE rc
                        OUTPUT_VARIABLE out ERROR_VARIABLE out)
        if(rc EQUAL 0 OR NOT out MATCHES "func_density +DIFFERS[^\n]*largest at point")
            message(FATAL_ERROR "the changed library passed its curve test:\n${out}")
        endif()
        run("${CMAKE_COMMAND}" --build "${WORK_DIR}/build" --target
            consumer_changed_curve_update_reference)
        run("${CMAKE_COMMAND}" -E chdir "${WORK_DIR}/build" "${CMAKE_CTEST_COMMAND}"
            -R consumer_changed_curve --output-on-failure)
        file(READ "${WORK_DIR}/build/junit.xml" junit)
        if(NOT junit MATCHES "consumer_host_same")
            message(FATAL_ERROR "no JUnit report of the host tests")
        endif()
    endif()
endif()

if(DEFINED SOURCE_DIR)
    # As a subproject, the package builds neither its tests nor its emulator.
    foreach(dir tests host)
        if(EXISTS "${WORK_DIR}/build/vulmora/${dir}")
            message(FATAL_ERROR "the subproject built its ${dir}")
        endif()
    endforeach()
endif()

if(DEFINED EXPECT_NEEDED)
    execute_process(COMMAND readelf -d "${WORK_DIR}/build/${LIB_NAME}" OUTPUT_VARIABLE dynamic)
    if(NOT dynamic MATCHES "\\(NEEDED\\)[^\n]*\\[${EXPECT_NEEDED}\\]")
        message(FATAL_ERROR "${LIB_NAME} does not need ${EXPECT_NEEDED}:\n${dynamic}")
    endif()
endif()
