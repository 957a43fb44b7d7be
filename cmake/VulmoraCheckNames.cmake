# VulmoraCheckNames.cmake - the entry points a user's objects define.
#
#   cmake -DNM=<nm> -DTARGET=<name> -DVULMORA_HEADER_DIR=<dir>
#         -DOBJECTS=<object;...> [-DOBJCOPY=<objcopy> -DRENAMES=<file>]
#         -P VulmoraCheckNames.cmake
#
# Run by vulmora_add_user_library before the link. In the user's objects
#   - func_<name> of the list with C linkage is an entry point (so is
#     vulmora_impl_<name>, its name once renamed);
#   - a global func_... with C linkage that is no entry point is a
#     misspelling, which the export list would otherwise hide silently;
#   - func_<name> or vulmora_impl_<name> with C++ linkage (a mangled name,
#     another function than the prototype's) is an entry point the host
#     cannot find;
#   - no entry point at all means the sources define none.
# Each is an error; a misspelling names the nearest entry point. Then, with
# OBJCOPY and RENAMES (lines "func_<name> vulmora_impl_<name>"), every
# object's symbols are renamed so: the exported func_<name> forwards to
# vulmora_impl_<name>, while the debug information keeps the name func_<name>
# the user wrote. Renaming an object again changes nothing.

cmake_minimum_required(VERSION 3.25)
include("${CMAKE_CURRENT_LIST_DIR}/VulmoraExports.cmake")

# Levenshtein distance between strings a and b, in out.
function(_vulmora_distance a b out)
    string(LENGTH "${a}" la)
    string(LENGTH "${b}" lb)
    set(prev "")
    foreach(j RANGE 0 ${lb})
        list(APPEND prev ${j})
    endforeach()
    if(la GREATER 0)
        math(EXPR last "${la} - 1")
        foreach(i RANGE 0 ${last})
            string(SUBSTRING "${a}" ${i} 1 ca)
            math(EXPR first "${i} + 1")
            set(cur ${first})
            if(lb GREATER 0)
                math(EXPR lastb "${lb} - 1")
                foreach(j RANGE 0 ${lastb})
                    string(SUBSTRING "${b}" ${j} 1 cb)
                    math(EXPR j1 "${j} + 1")
                    list(GET prev ${j} diag)
                    list(GET prev ${j1} up)
                    list(GET cur ${j} left)
                    if(ca STREQUAL cb)
                        set(best ${diag})
                    else()
                        math(EXPR best "${diag} + 1")
                    endif()
                    math(EXPR up "${up} + 1")
                    math(EXPR left "${left} + 1")
                    if(up LESS best)
                        set(best ${up})
                    endif()
                    if(left LESS best)
                        set(best ${left})
                    endif()
                    list(APPEND cur ${best})
                endforeach()
            endif()
            set(prev ${cur})
        endforeach()
    endif()
    list(GET prev ${lb} d)
    set(${out} ${d} PARENT_SCOPE)
endfunction()

# The entry point nearest to `name` (first of the list on a tie).
function(_vulmora_nearest name out)
    set(best "")
    set(best_d 1000000)
    foreach(entry IN LISTS VULMORA_ENTRY_POINTS)
        _vulmora_distance("${name}" "${entry}" d)
        if(d LESS best_d)
            set(best_d ${d})
            set(best ${entry})
        endif()
    endforeach()
    set(${out} ${best} PARENT_SCOPE)
endfunction()

set(errors "")
set(defined 0)
foreach(object IN LISTS OBJECTS)
    execute_process(COMMAND "${NM}" -g --defined-only -C "${object}"
                    OUTPUT_VARIABLE listing ERROR_VARIABLE nm_error RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "vulmora_add_user_library(${TARGET}): ${NM} failed on ${object}: "
                            "${nm_error}")
    endif()
    get_filename_component(file "${object}" NAME)
    string(REPLACE "\n" ";" lines "${listing}")
    foreach(line IN LISTS lines)
        # "<address> <type> <name>", the name demangled ("func_x(int)" in C++).
        if(NOT line MATCHES "^[0-9A-Fa-f]* *[A-Za-z] (.+)$")
            continue()
        endif()
        set(symbol "${CMAKE_MATCH_1}")
        set(mangled "")
        if(symbol MATCHES "(^|::)(vulmora_impl_|func_)([a-z0-9_]+)\\(")
            set(mangled "func_${CMAKE_MATCH_3}")
        endif()
        set(plain "")
        if(symbol MATCHES "^(vulmora_impl_|func_)([a-z0-9_]+)$")
            set(plain "func_${CMAKE_MATCH_2}")
        endif()
        if(plain IN_LIST VULMORA_ENTRY_POINTS)
            math(EXPR defined "${defined} + 1")
        elseif(mangled IN_LIST VULMORA_ENTRY_POINTS)
            string(APPEND errors "  ${file}: ${mangled} is defined with C++ linkage "
                   "(${symbol}), so the host cannot find it: define it with the prototype "
                   "getVar.h gives\n")
        elseif(symbol MATCHES "(^|::)(func_[A-Za-z0-9_]*)")
            set(name "${CMAKE_MATCH_2}")
            if(name IN_LIST VULMORA_EXPORTED_DATA)
                continue() # an exchange variable: the link reports it twice defined
            endif()
            if(name MATCHES "^func_(thermal)?(conductivity|specificheat|heatcapacity|latentheat|enthalpy|cp)$")
                string(APPEND errors "  ${file}: ${name} is no entry point: thermal conductivity, "
                       "specific heat and latent heat are the solver's material data, not user "
                       "functions (vulmora_entry_points.h lists the entry points)\n")
                continue()
            endif()
            _vulmora_nearest("${name}" near)
            string(APPEND errors "  ${file}: ${name} is no entry point: did you mean ${near}?\n")
        endif()
    endforeach()
endforeach()

if(defined EQUAL 0 AND errors STREQUAL "")
    string(APPEND errors "  the sources define no entry point: name one func_<name> of "
           "getVar.h (the list is in vulmora_entry_points.h)\n")
endif()
if(NOT errors STREQUAL "")
    message(FATAL_ERROR "vulmora_add_user_library(${TARGET}):\n${errors}")
endif()

if(OBJCOPY AND RENAMES)
    foreach(object IN LISTS OBJECTS)
        execute_process(COMMAND "${OBJCOPY}" "--redefine-syms=${RENAMES}" "${object}"
                        ERROR_VARIABLE objcopy_error RESULT_VARIABLE rc)
        if(NOT rc EQUAL 0)
            message(FATAL_ERROR "vulmora_add_user_library(${TARGET}): ${OBJCOPY} failed on "
                                "${object}: ${objcopy_error}")
        endif()
    endforeach()
endif()
