# The bench's folders are layers: a folder of host/ includes only folders
# below it, and two folders of one layer never include each other.
#   cmake -DHOST_DIR=<host/> "-DLAYERS=<bottom>,...,<top>" -P host_layers.cmake
# LAYERS is the list of host/CMakeLists.txt, from the bottom up, separated
# by commas; a layer of several folders is written "a|b". Every include that breaks the order is
# named with its file, line and both folders; main.cpp, above every layer,
# may include any of them.
cmake_minimum_required(VERSION 3.25)

if(NOT LAYERS OR NOT IS_DIRECTORY "${HOST_DIR}")
    message(FATAL_ERROR "host_layers: give -DHOST_DIR=<host/> and -DLAYERS=<bottom>,...,<top>")
endif()
string(REPLACE "," ";" layers "${LAYERS}")
set(rank 0)
set(folders "")
foreach(layer IN LISTS layers)
    string(REPLACE "|" ";" members "${layer}")
    foreach(folder IN LISTS members)
        set(rank_${folder} ${rank})
        list(APPEND folders ${folder})
    endforeach()
    math(EXPR rank "${rank} + 1")
endforeach()

file(GLOB_RECURSE sources RELATIVE "${HOST_DIR}" "${HOST_DIR}/*.h" "${HOST_DIR}/*.cpp")
set(broken 0)
foreach(source IN LISTS sources)
    string(REGEX MATCH "^[^/]+" folder "${source}")
    if(folder STREQUAL source)
        continue() # main.cpp: the top
    endif()
    if(NOT DEFINED rank_${folder})
        message(SEND_ERROR "${source}: the folder ${folder}/ is in no layer")
        math(EXPR broken "${broken} + 1")
        continue()
    endif()
    file(STRINGS "${HOST_DIR}/${source}" lines)
    set(line_no 0)
    foreach(line IN LISTS lines)
        math(EXPR line_no "${line_no} + 1")
        if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"(host/)?([^/\"]+)/[^\"]*\"")
            continue()
        endif()
        set(to "${CMAKE_MATCH_2}")
        if(to STREQUAL folder OR NOT to IN_LIST folders)
            continue()
        endif()
        if(NOT rank_${to} LESS rank_${folder})
            message(SEND_ERROR "${source}:${line_no}: ${folder}/ includes ${to}/, "
                               "which is not below it")
            math(EXPR broken "${broken} + 1")
        endif()
    endforeach()
endforeach()
if(broken)
    message(FATAL_ERROR "${broken} includes break the layers of host/")
endif()
