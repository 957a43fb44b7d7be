# Build the user project of this folder once per case against the installed
# package, and check how each build ends:
#   cmake -DPREFIX=<installed package> -DWORK_DIR=<scratch> -P run.cmake
foreach(var PREFIX WORK_DIR)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${var} not set")
    endif()
endforeach()

# name | languages | sources | "ok" or the text the failed build must print
# [| configure arguments]
set(cases
    "misspelt_c|C|misspelt.c|misspelt.c.o: func_densty is no entry point: did you mean func_density?"
    "misspelt_cxx_c_linkage|C,CXX|misspelt.cpp|func_youngsmodulu is no entry point: did you mean func_youngsmodulus?"
    "misspelt_cxx_linkage|C,CXX|misspelt.cpp|func_yieldstres is no entry point: did you mean func_yieldstress?"
    "cxx_without_getvar|C,CXX|cxx_without_getvar.cpp|ok"
    "cxx_namespace|C,CXX|cxx_namespace.cpp|func_density is defined with C++ linkage"
    "other_signature_cxx|C,CXX|other_signature.cpp|func_density is defined with C++ linkage"
    "other_signature_c|C|other_signature.c|other_signature.c:4:7: error: conflicting types for 'func_density'"
    "no_getvar_c|C|no_getvar.c|no_getvar.c:3:7: error: conflicting types for 'func_density'"
    "no_entry_point|C|no_entry_point.c|the sources define no entry point"
    "cxx_in_c_project|C|misspelt.cpp|misspelt.cpp is CXX code, but the CXX language is not enabled"
    "opt_out_in_source|C|opt_out_in_source.c|VULMORA_NO_ENTRY_PROTOTYPES must be defined for the whole library"
    "opt_out|C|opt_out.c|ok|-DDEFINES=VULMORA_NO_ENTRY_PROTOTYPES"
    "mikral_missing|C|misspelt.c|VULMORA_MIKRAL_LIBRARY=/no/such/libMikral.so: no such file|-DVULMORA_MIKRAL_LIBRARY=/no/such/libMikral.so"
    "lto|C|plain.c|ok|-DCMAKE_C_FLAGS=-flto"
    "material_data|C|conductivity.c|func_conductivity is no entry point: thermal conductivity, specific heat and latent heat are the solver's material data")

set(failures "")
foreach(case IN LISTS cases)
    string(REPLACE "|" ";" fields "${case}")
    list(GET fields 0 name)
    list(GET fields 1 langs)
    list(GET fields 2 sources)
    list(GET fields 3 expect)
    set(extra "")
    list(LENGTH fields n)
    if(n GREATER 4)
        list(GET fields 4 extra)
    endif()
    string(REPLACE "," ";" langs "${langs}")
    set(dir "${WORK_DIR}/${name}")
    file(REMOVE_RECURSE "${dir}")
    execute_process(COMMAND "${CMAKE_COMMAND}" -S "${CMAKE_CURRENT_LIST_DIR}" -B "${dir}" -G Ninja
                            "-DCMAKE_PREFIX_PATH=${PREFIX}" "-DLANGS=${langs}"
                            "-DSOURCES=${sources}" ${extra}
                    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
    if(rc EQUAL 0)
        execute_process(COMMAND "${CMAKE_COMMAND}" -E env LC_ALL=C "${CMAKE_COMMAND}" --build "${dir}"
                        OUTPUT_VARIABLE bout ERROR_VARIABLE berr RESULT_VARIABLE rc)
        string(APPEND out "${bout}")
        string(APPEND err "${berr}")
    endif()
    # CMake wraps long messages: compare with white space runs as one space.
    string(REGEX REPLACE "[ \t\r\n]+" " " all "${out}${err}")
    if(expect STREQUAL "ok")
        if(NOT rc EQUAL 0)
            string(APPEND failures "${name}: the build failed:\n${all}\n")
        endif()
    elseif(rc EQUAL 0)
        string(APPEND failures "${name}: the build succeeded; it should have failed with \"${expect}\"\n")
    else()
        string(FIND "${all}" "${expect}" at)
        if(at EQUAL -1)
            string(APPEND failures "${name}: failed without \"${expect}\":\n${all}\n")
        endif()
    endif()
    message(STATUS "${name}: done")
endforeach()
if(failures)
    message(FATAL_ERROR "${failures}")
endif()
