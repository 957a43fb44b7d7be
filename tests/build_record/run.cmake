# The build record end to end, against the installed package:
#   cmake -DPREFIX=<package> -DHOST_EXE=<vulmora-host> -DWORK_DIR=<scratch> -P run.cmake
# The project is copied into two folders and built in each (the second
# linked with --gc-sections): both libraries carry the same record, whose
# hash of props.c is sha256sum's. Then one
# copy's source changes: its record follows, and a replay of a state the
# other saved names the source that changed.
include("${CMAKE_CURRENT_LIST_DIR}/../script_steps.cmake")
require_defined(PREFIX HOST_EXE WORK_DIR)

function(expect text pattern what)
    if(NOT text MATCHES "${pattern}")
        message(FATAL_ERROR "${what}: no match for '${pattern}' in:\n${text}")
    endif()
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
foreach(copy a b)
    file(MAKE_DIRECTORY "${WORK_DIR}/${copy}/src")
    file(COPY_FILE "${CMAKE_CURRENT_LIST_DIR}/CMakeLists.txt" "${WORK_DIR}/${copy}/CMakeLists.txt")
    file(COPY_FILE "${CMAKE_CURRENT_LIST_DIR}/props.c" "${WORK_DIR}/${copy}/src/props.c")
    # b's link drops unreferenced sections: the record must stay.
    set(gc "")
    if(copy STREQUAL "b")
        set(gc "-DCMAKE_SHARED_LINKER_FLAGS=-Wl,--gc-sections")
    endif()
    run(out "${CMAKE_COMMAND}" -S "${WORK_DIR}/${copy}" -B "${WORK_DIR}/${copy}/build" -G Ninja
        "-DCMAKE_PREFIX_PATH=${PREFIX}" -DCMAKE_BUILD_TYPE=Release ${gc})
    run(out "${CMAKE_COMMAND}" --build "${WORK_DIR}/${copy}/build")
    run(record_${copy} "${HOST_EXE}" about "${WORK_DIR}/${copy}/build/libprops.so")
endforeach()

if(NOT record_a STREQUAL record_b)
    message(FATAL_ERROR "two builds of the same source differ:\n${record_a}\n--\n${record_b}")
endif()
run(sum sha256sum "${WORK_DIR}/a/src/props.c")
string(SUBSTRING "${sum}" 0 64 sum)
expect("${record_a}" "^vulmora [0-9]+\\.[0-9]+\\.[0-9]+\ncompiler [^\n]+\nbuild-type Release\nflags [^\n]*-O3[^\n]*\nsource src/props.c ${sum}\n$" "the record")

# Built by hand: no record, status 0; a file that is no library: status 2.
run(out "${HOST_EXE}" about "${WORK_DIR}/a/build/libby_hand.so")
expect("${out}" "no build record \\(not built by vulmora_add_user_library\\)" "by hand")
execute_process(COMMAND "${HOST_EXE}" about "${WORK_DIR}/a/src/props.c" RESULT_VARIABLE rc
                ERROR_VARIABLE out)
if(NOT rc EQUAL 2 OR NOT out MATCHES "not a library")
    message(FATAL_ERROR "a source file as the library: status ${rc}, ${out}")
endif()

# A state saved from copy a's library: it carries a's record.
run(out "${HOST_EXE}" --library "${WORK_DIR}/a/build/libprops.so" --nodes-per-side 4 --steps 1
    --save-state "${WORK_DIR}/a.vstate")
set(state "${WORK_DIR}/a.vstate" --functions density --node 1)
run(out "${HOST_EXE}" replay ${state})
string(SUBSTRING "${sum}" 0 12 old12)
expect("${out}" "build: +src/props.c ${old12}, " "replay of the same library")
if(out MATCHES "note:")
    message(FATAL_ERROR "the same library is noted as another:\n${out}")
endif()

# Copy b changed and rebuilt: its record follows the source, and the
# replay of a's state on it names the source with both hashes.
file(APPEND "${WORK_DIR}/b/src/props.c" "/* changed */\n")
run(out "${CMAKE_COMMAND}" --build "${WORK_DIR}/b/build")
run(changed "${HOST_EXE}" about "${WORK_DIR}/b/build/libprops.so")
run(new_sum sha256sum "${WORK_DIR}/b/src/props.c")
string(SUBSTRING "${new_sum}" 0 64 new_sum)
expect("${changed}" "source src/props.c ${new_sum}\n" "the rebuilt record")
string(SUBSTRING "${new_sum}" 0 12 new12)
run(out "${HOST_EXE}" replay ${state} --library "${WORK_DIR}/b/build/libprops.so")
expect("${out}" "note: [^\n]*the one that made the state:\n +src/props.c: ${old12} -> ${new12}\n"
       "replay on the changed library")
