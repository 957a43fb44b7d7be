# VulmoraHostTest.cmake - vulmora_add_host_test().
#
#   vulmora_add_host_test(<name> LIBRARY <target> [FUNCTIONS <entry>...]
#                         [CURVE] [REFERENCE <dir>] [STRICT] [ARGS <option>...])
#
# Registers the CTest test <name>: the host emulator runs the user library
# <target> (built with vulmora_add_user_library) on its sample casting and
# the test fails when an entry point stops, crashes, hangs, writes into the
# host's arrays or returns NaN or an infinite value; with FUNCTIONS, only
# those entry points are evaluated. With CURVE, the entry points are
# evaluated along a cooling path (`vulmora-host curve`, its options in
# ARGS: --from, --to, --points, --fs, --table, --alloy, ...) instead of
# the sample casting, and REFERENCE holds a saved curve. With STRICT (--strict), it also fails
# when a value lies outside the plausible range of its quantity, which a
# plain run reports as a warning. With REFERENCE (a folder a previous run
# wrote with --output, relative to the current source folder), the values
# are compared with it and the test also fails when an entry point differs
# beyond the tolerance or the runs differ in shape. ARGS go to the emulator
# as they are: --check-units, --check-order, --rtol 1e-9, --steps 4, ...
# The results of the last run are in <build folder>/<name>.host-out.
#
# With REFERENCE, the build target <name>_update_reference runs the same
# evaluation and saves it as the new reference in that folder (replacing a
# saved run only): `cmake --build <build> --target <name>_update_reference`
# once before the first test run, and after a change whose new values are
# the right ones. A test run with no reference saved says which target
# saves it.
#
# The emulator is the one installed with the package, or this tree's
# vulmora-host target, or the program named by VULMORA_HOST_EXECUTABLE.
# When cross-building, it is a program of the target platform and runs
# through CMAKE_CROSSCOMPILING_EMULATOR (Wine for Windows), when there is one.
# A test written by hand runs the package's ${VULMORA_HOST_COMMAND}: the
# emulator, behind CMAKE_CROSSCOMPILING_EMULATOR when cross-building.

include_guard(GLOBAL)

function(vulmora_add_host_test name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "STRICT;CURVE" "LIBRARY;REFERENCE" "FUNCTIONS;ARGS")
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "vulmora_add_host_test(${name}): unknown arguments "
                            "${arg_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT arg_LIBRARY OR NOT TARGET "${arg_LIBRARY}")
        message(FATAL_ERROR "vulmora_add_host_test(${name}): LIBRARY must name a target made "
                            "with vulmora_add_user_library")
    endif()
    if(TARGET vulmora-host)
        set(host "$<TARGET_FILE:vulmora-host>")
    elseif(VULMORA_HOST_EXECUTABLE)
        set(host "${VULMORA_HOST_EXECUTABLE}")
    else()
        message(FATAL_ERROR "vulmora_add_host_test(${name}): no vulmora-host: install the "
                            "package with its emulator or set VULMORA_HOST_EXECUTABLE")
    endif()
    set(runner "")
    if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
        set(runner ${CMAKE_CROSSCOMPILING_EMULATOR})
    endif()
    set(evaluate ${runner} "${host}")
    if(arg_CURVE)
        list(APPEND evaluate curve)
    endif()
    list(APPEND evaluate --library "$<TARGET_FILE:${arg_LIBRARY}>" --no-plots)
    if(arg_FUNCTIONS)
        list(JOIN arg_FUNCTIONS "," functions)
        list(APPEND evaluate --functions "${functions}")
    endif()
    set(command ${evaluate} --output "${CMAKE_CURRENT_BINARY_DIR}/${name}.host-out")
    if(arg_REFERENCE)
        cmake_path(ABSOLUTE_PATH arg_REFERENCE BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}"
                   NORMALIZE OUTPUT_VARIABLE reference)
        list(APPEND command --compare "${reference}")
        # The same evaluation, saved as the reference.
        add_custom_target("${name}_update_reference"
                          COMMAND ${evaluate} --output "${reference}" ${arg_ARGS}
                          COMMENT "Saving the reference of ${name} in ${reference}" VERBATIM)
        add_dependencies("${name}_update_reference" "${arg_LIBRARY}")
        if(TARGET vulmora-host)
            add_dependencies("${name}_update_reference" vulmora-host)
        endif()
    endif()
    if(arg_STRICT)
        list(APPEND command --strict)
    endif()
    add_test(NAME "${name}" COMMAND ${command} ${arg_ARGS})
    if(arg_REFERENCE)
        # A test run before its reference is saved says which target saves it.
        set_tests_properties("${name}" PROPERTIES
                             ENVIRONMENT "VULMORA_REFERENCE_TARGET=${name}_update_reference")
    endif()
endfunction()
