# What the configure-time check says of each file given as the site's
# microstructure library:
#   cmake -DSTAND_IN=<libMikral> -DSITE=<a site's library> -DNO_LOOKUPS=<a shared
#         library that only imports them> -DARCHIVE=<a static archive>
#         -DWORK_DIR=<scratch> -P mikral_check.cmake
cmake_minimum_required(VERSION 3.25)
include("${CMAKE_CURRENT_LIST_DIR}/../cmake/VulmoraMikralCheck.cmake")

file(MAKE_DIRECTORY "${WORK_DIR}")
file(WRITE "${WORK_DIR}/libMikral.so" "INPUT(-lMikral)\n") # a linker script, not a library
set(lookups "micCNT_GindToName_CNT, micCNT_GindToName_Aux, "
            "micModels_gCNTibyAind_checkIndices, micModels_vAuxibyAind_checkIndices")
string(CONCAT lookups ${lookups})

# file | what the check must say ("" when the file is fit)
set(cases
    "${STAND_IN}|"
    "${SITE}|"
    "${WORK_DIR}/no-such/libMikral.so|no such file"
    "${WORK_DIR}|a folder, not a library"
    "${WORK_DIR}/libMikral.so|not a shared library"
    "${ARCHIVE}|not a shared library"
    "${NO_LOOKUPS}|does not export ${lookups}")
set(failures "")
foreach(case IN LISTS cases)
    string(REPLACE "|" ";" fields "${case}")
    list(GET fields 0 path)
    set(expect "")
    list(LENGTH fields n)
    if(n GREATER 1)
        list(GET fields 1 expect)
    endif()
    vulmora_mikral_problem("${path}" problem)
    if(NOT problem STREQUAL expect)
        string(APPEND failures "${path}: \"${problem}\", not \"${expect}\"\n")
    endif()
endforeach()
if(failures)
    message(FATAL_ERROR "${failures}")
endif()
