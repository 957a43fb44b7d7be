# Install the build tree, build the consumer project against the installed
# package with its two commands, and run the user-library test on the result.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DTEST_EXE=... -DDELIVERED=... -P run.cmake
# Optional: -DEXTRA_ARGS=... (passed to the consumer configure),
# -DLIB_NAME=... (the library file the consumer builds) and
# -DEXPECT_NEEDED=... (a library its dynamic section must name).
foreach(var BUILD_DIR WORK_DIR TEST_EXE DELIVERED)
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

file(REMOVE_RECURSE "${WORK_DIR}")
run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${WORK_DIR}/prefix")
run("${CMAKE_COMMAND}" -S "${CMAKE_CURRENT_LIST_DIR}" -B "${WORK_DIR}/build"
    "-DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix" ${EXTRA_ARGS})
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/build")
run("${CMAKE_COMMAND}" -E env "VULMORA_USER_LIB=${WORK_DIR}/build/${LIB_NAME}"
    "VULMORA_LIB=${DELIVERED}" "${TEST_EXE}")

if(DEFINED EXPECT_NEEDED)
    execute_process(COMMAND readelf -d "${WORK_DIR}/build/${LIB_NAME}" OUTPUT_VARIABLE dynamic)
    if(NOT dynamic MATCHES "\\(NEEDED\\)[^\n]*\\[${EXPECT_NEEDED}\\]")
        message(FATAL_ERROR "${LIB_NAME} does not need ${EXPECT_NEEDED}:\n${dynamic}")
    endif()
endif()
