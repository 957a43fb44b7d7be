# Print the names every user-function DLL must export, one a line:
#   cmake -DWHAT=ALL|DATA -P exports.cmake
include("${CMAKE_CURRENT_LIST_DIR}/../../cmake/VulmoraExports.cmake")
if(WHAT STREQUAL "DATA")
    set(names ${VULMORA_EXPORTED_DATA})
else()
    set(names ${VULMORA_EXPORTED_FUNCTIONS} ${VULMORA_EXPORTED_DATA})
endif()
list(JOIN names "\n" text)
execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${text}")
