# script_steps.cmake - what the end-to-end test scripts (cmake -P) share.

# Fail unless every variable named is defined (given with -D).
function(require_defined)
    foreach(var IN LISTS ARGN)
        if(NOT DEFINED ${var})
            message(FATAL_ERROR "${var} not set")
        endif()
    endforeach()
endfunction()

# Run a command; fail with its output unless it ends with status 0.
function(run out)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE text ERROR_VARIABLE text)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${text}")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()
