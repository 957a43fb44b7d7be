# VulmoraMikralCheck.cmake - is a file a microstructure library that user
# functions can link against?
#
#   vulmora_mikral_problem(<path> <out>)
#
# Sets <out> to "" when <path> is a shared library (ELF shared object, DLL,
# or on Windows its import library) that defines the four look-ups the
# user-function library imports, else to what is wrong, in a few words. The
# look-ups are read from mikral.h (installed next to getVar.h; mikral/ in
# the source tree). The exports are read with CMAKE_NM / CMAKE_OBJDUMP, or
# nm / objdump found on PATH; without them only the file's kind is checked.
# Works in a project and in script mode (cmake -P).

include_guard(GLOBAL)
set(_VULMORA_MIKRAL_TREE_HEADER "${CMAKE_CURRENT_LIST_DIR}/../mikral/mikral.h")

# The names of the look-ups mikral.h declares under "The four look-ups".
function(_vulmora_mikral_lookups out)
    get_property(dir GLOBAL PROPERTY VULMORA_HEADER_DIR)
    if(NOT dir)
        set(dir "${VULMORA_HEADER_DIR}")
    endif()
    set(headers "${_VULMORA_MIKRAL_TREE_HEADER}")
    if(dir)
        list(PREPEND headers "${dir}/mikral.h")
    endif()
    foreach(header IN LISTS headers)
        if(EXISTS "${header}")
            file(READ "${header}" text)
            string(REGEX MATCH "The four look-ups[^\n]*\n(.*)" _ "${text}")
            string(REGEX REPLACE "\n\\*\\* =+.*" "" section "${CMAKE_MATCH_1}")
            string(REGEX MATCHALL "MIKRAL_API [^;(]*[ *](mic[A-Za-z_]+)\\(" decls "${section}")
            list(TRANSFORM decls REPLACE ".*[ *](mic[A-Za-z_]+)\\($" "\\1")
            set(${out} ${decls} PARENT_SCOPE)
            return()
        endif()
    endforeach()
    message(FATAL_ERROR "Vulmora: mikral.h not found (${headers})")
endfunction()

# The kind of <path> from its first bytes: elf-shared, elf-other, pe,
# archive, or other.
function(_vulmora_file_kind path out)
    file(READ "${path}" head LIMIT 18 HEX)
    if(head MATCHES "^7f454c46")
        string(SUBSTRING "${head}" 32 4 type) # e_type, little-endian
        if(type STREQUAL "0300")
            set(${out} elf-shared PARENT_SCOPE)
        else()
            set(${out} elf-other PARENT_SCOPE)
        endif()
    elseif(head MATCHES "^4d5a")
        set(${out} pe PARENT_SCOPE)
    elseif(head MATCHES "^213c617263683e0a")
        set(${out} archive PARENT_SCOPE)
    else()
        set(${out} other PARENT_SCOPE)
    endif()
endfunction()

# The tool CMake found for this toolchain (CMAKE_<TOOL>), else `name` on
# the PATH (cached as VULMORA_<TOOL>); "" when there is none.
function(_vulmora_binutil name tool out)
    if(CMAKE_${tool})
        set(${out} "${CMAKE_${tool}}" PARENT_SCOPE)
    else()
        find_program(VULMORA_${tool} NAMES ${name})
        set(${out} "${VULMORA_${tool}}" PARENT_SCOPE)
    endif()
endfunction()

# What the file defines, as the tool lists it; "" when no tool is there.
function(_vulmora_file_symbols path kind out)
    set(${out} "" PARENT_SCOPE)
    _vulmora_binutil(nm NM nm)
    _vulmora_binutil(objdump OBJDUMP objdump)
    if(kind STREQUAL "elf-shared" AND nm)
        set(command "${nm}" -D --defined-only "${path}")
    elseif(kind STREQUAL "pe" AND objdump)
        set(command "${objdump}" -p "${path}") # the export table
    elseif(kind STREQUAL "archive" AND nm)
        set(command "${nm}" --defined-only "${path}")
    else()
        return()
    endif()
    execute_process(COMMAND ${command} OUTPUT_VARIABLE listing ERROR_QUIET)
    set(${out} "${listing}" PARENT_SCOPE)
endfunction()

function(vulmora_mikral_problem path out)
    set(${out} "" PARENT_SCOPE)
    if(NOT EXISTS "${path}")
        set(${out} "no such file" PARENT_SCOPE)
        return()
    elseif(IS_DIRECTORY "${path}")
        set(${out} "a folder, not a library" PARENT_SCOPE)
        return()
    endif()
    _vulmora_file_kind("${path}" kind)
    if(kind MATCHES "^(elf-other|other)$" OR (kind STREQUAL "archive" AND NOT WIN32))
        set(${out} "not a shared library" PARENT_SCOPE)
        return()
    endif()
    _vulmora_file_symbols("${path}" ${kind} listing)
    if(listing STREQUAL "")
        return()
    endif()
    _vulmora_mikral_lookups(lookups)
    set(missing "")
    foreach(name IN LISTS lookups)
        if(NOT listing MATCHES "[ \t]${name}(\r?\n|$)")
            list(APPEND missing ${name})
        endif()
    endforeach()
    if(missing)
        list(JOIN missing ", " missing)
        set(${out} "does not export ${missing}" PARENT_SCOPE)
    endif()
endfunction()
