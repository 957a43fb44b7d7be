# A user library built in Release has line information for the user's
# sources, stays optimised, and the debugger stops in the user's function
# under its own name, func_<name>, given README's commands as written:
#   cmake -DPREFIX=<installed package> -DHOST_EXE=<vulmora-host> -DWORK_DIR=<scratch>
#         -DREADME=<README.md> -P run.cmake
include("${CMAKE_CURRENT_LIST_DIR}/../script_steps.cmake")
require_defined(PREFIX HOST_EXE WORK_DIR README)

# README's debugger commands, "(gdb) ..." lines, with its breakpoint's
# place (myprops.c:87) to be put where each case stops.
file(STRINGS "${README}" recipe REGEX "^ *\\(gdb\\) ")
list(TRANSFORM recipe REPLACE "^ *\\(gdb\\) " "")
if(NOT recipe MATCHES "break myprops.c:87")
    message(FATAL_ERROR "README's debugger recipe has no 'break myprops.c:87': ${recipe}")
endif()

find_program(GDB gdb)
if(NOT GDB)
    message(FATAL_ERROR "gdb is needed (bash tools/deps.sh --tests installs it)")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
run(_ "${CMAKE_COMMAND}" -S "${CMAKE_CURRENT_LIST_DIR}" -B "${WORK_DIR}" -G Ninja
    "-DCMAKE_PREFIX_PATH=${PREFIX}" -DCMAKE_BUILD_TYPE=Release)
run(_ "${CMAKE_COMMAND}" --build "${WORK_DIR}")
set(lib "${WORK_DIR}/libdebugprops.so")
run(lines readelf --debug-dump=decodedline "${lib}")
run(info readelf --debug-dump=info "${lib}")

# source | entry point | node
set(cases "density.c|density|5" "emissivity.cpp|emissivity|7")
set(failures "")
foreach(case IN LISTS cases)
    string(REPLACE "|" ";" fields "${case}")
    list(GET fields 0 source)
    list(GET fields 1 entry)
    list(GET fields 2 node)
    file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/${source}" text)
    set(line 0)
    set(stop 0)
    foreach(row IN LISTS text)
        math(EXPR line "${line} + 1")
        if(row MATCHES "stop here")
            set(stop ${line})
        endif()
    endforeach()
    if(NOT lines MATCHES "${source} +${stop} ")
        string(APPEND failures "${source}: no line information for line ${stop}\n")
    endif()
    # The compile unit's producer line records the optimisation kept.
    if(NOT info MATCHES "DW_AT_producer[^\n]* -O3[^\n]*\n[^\n]*\n[^\n]*DW_AT_name[^\n]*${source}")
        string(APPEND failures "${source}: not compiled with Release's -O3\n")
    endif()
    set(commands "")
    foreach(command IN LISTS recipe)
        string(REPLACE "myprops.c:87" "${source}:${stop}" command "${command}")
        list(APPEND commands -ex "${command}")
    endforeach()
    execute_process(COMMAND "${GDB}" -nx -batch ${commands} -ex bt
                            --args "${HOST_EXE}" --library "${lib}" --functions ${entry}
                                   --node ${node} --step 1
                    OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT out MATCHES "\n#0 +func_${entry} \\(node=[^)]*\\) at [^\n]*${source}:${stop}\n")
        string(APPEND failures "${source}: the debugger's frame is not func_${entry} at "
               "${source}:${stop}:\n${out}\n")
    endif()
endforeach()
if(failures)
    message(FATAL_ERROR "${failures}")
endif()
