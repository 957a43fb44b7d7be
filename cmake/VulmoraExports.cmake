# VulmoraExports.cmake - the exported surface of every user-function library.
#
# Read from the two headers that list it, vulmora_entry_points.h (the entry
# points) and vulmora_layout.h (the exchange block), beside getVar.h: in
# the source tree, or where the package installed them (VULMORA_HEADER_DIR,
# set by the package config). The linker's export list (version script or
# module-definition file) is made from these lists, so nothing else can
# leak out and no entry point can be left out.
#
# Sets, as variables and as global properties of the same names (a
# function called from another directory reads the properties):
#   VULMORA_ENTRY_POINTS              func_<name> of every entry point
#   VULMORA_PROPERTY_ENTRY_POINTS     those of kind PROPERTY
#   VULMORA_MECHANICAL_ENTRY_POINTS   those called in MECHANICAL mode
#   VULMORA_EXPORTED_FUNCTIONS        the entry points and the two converters
#   VULMORA_EXPORTED_DATA             the exchange block and per-type tables
#   VULMORA_HEADER_DIR                where getVar.h and the lists are

if(NOT VULMORA_HEADER_DIR)
    get_filename_component(VULMORA_HEADER_DIR "${CMAKE_CURRENT_LIST_DIR}/../include/vulmora" ABSOLUTE)
endif()

# The lines of the lists end in a backslash, which a CMake list would take
# for an escape: the entries are matched in the whole text instead.
file(READ "${VULMORA_HEADER_DIR}/vulmora_entry_points.h" _vulmora_text)
string(REGEX MATCHALL "\n +X\\([a-z0-9_]+, [A-Z]+, [A-Z]+, [A-Z]+\\)" _vulmora_rows "${_vulmora_text}")
set(VULMORA_ENTRY_POINTS "")
set(VULMORA_PROPERTY_ENTRY_POINTS "")
set(VULMORA_MECHANICAL_ENTRY_POINTS "")
foreach(_vulmora_row IN LISTS _vulmora_rows)
    string(REGEX MATCH "X\\(([a-z0-9_]+), ([A-Z]+), ([A-Z]+), ([A-Z]+)\\)" _ "${_vulmora_row}")
    list(APPEND VULMORA_ENTRY_POINTS "func_${CMAKE_MATCH_1}")
    if(CMAKE_MATCH_2 STREQUAL "PROPERTY")
        list(APPEND VULMORA_PROPERTY_ENTRY_POINTS "func_${CMAKE_MATCH_1}")
    endif()
    if(CMAKE_MATCH_3 STREQUAL "MECHANICAL")
        list(APPEND VULMORA_MECHANICAL_ENTRY_POINTS "func_${CMAKE_MATCH_1}")
    endif()
endforeach()

file(READ "${VULMORA_HEADER_DIR}/vulmora_layout.h" _vulmora_text)
string(REGEX MATCHALL "\n +X\\([A-Za-z0-9_]+, " _vulmora_rows "${_vulmora_text}")
set(VULMORA_EXPORTED_DATA "")
foreach(_vulmora_row IN LISTS _vulmora_rows)
    string(REGEX MATCH "X\\(([A-Za-z0-9_]+), " _ "${_vulmora_row}")
    list(APPEND VULMORA_EXPORTED_DATA "${CMAKE_MATCH_1}")
endforeach()

if(NOT VULMORA_ENTRY_POINTS OR NOT VULMORA_EXPORTED_DATA)
    message(FATAL_ERROR "Vulmora: no entry points or exchange variables read from "
                        "${VULMORA_HEADER_DIR}")
endif()

set(VULMORA_EXPORTED_FUNCTIONS ${VULMORA_ENTRY_POINTS} fconvertToCGS fconvertFromCGS)

get_property(_vulmora_role GLOBAL PROPERTY CMAKE_ROLE)
if(_vulmora_role STREQUAL "PROJECT")
    foreach(_vulmora_var VULMORA_ENTRY_POINTS VULMORA_PROPERTY_ENTRY_POINTS
            VULMORA_MECHANICAL_ENTRY_POINTS VULMORA_EXPORTED_FUNCTIONS VULMORA_EXPORTED_DATA
            VULMORA_HEADER_DIR)
        set_property(GLOBAL PROPERTY ${_vulmora_var} "${${_vulmora_var}}")
    endforeach()
endif()
