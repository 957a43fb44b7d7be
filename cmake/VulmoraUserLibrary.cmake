# VulmoraUserLibrary.cmake - vulmora_add_user_library().
#
#   vulmora_add_user_library(<target> [SOURCES <file>...])
#
# Builds the shared library lib<target> (.so, or .dll on Windows) that the
# host loads: the exchange block, the converters and the accessors, the
# entry points defined in the given C or C++ sources, and the template
# placeholder of every entry point those sources leave out. Entry points
# need no export annotation: the export list names all 37, and nothing
# else is exported.
#
# Expects the targets Vulmora::core, Vulmora::template and Vulmora::headers,
# and the microstructure library in VULMORA_MIKRAL_LIBRARY (a path) or
# Vulmora::mikral (the stand-in).

include_guard(GLOBAL)
include("${CMAKE_CURRENT_LIST_DIR}/VulmoraExports.cmake")

# Write the linker's export list for <target> and return its path.
function(_vulmora_export_list target out)
    set(dir "${CMAKE_CURRENT_BINARY_DIR}/${target}.vulmora")
    if(WIN32)
        set(text "LIBRARY lib${target}.dll\nEXPORTS\n")
        foreach(name IN LISTS VULMORA_EXPORTED_FUNCTIONS)
            string(APPEND text "    ${name}\n")
        endforeach()
        foreach(name IN LISTS VULMORA_EXPORTED_DATA)
            string(APPEND text "    ${name} DATA\n")
        endforeach()
        set(file "${dir}/exports.def")
    else()
        set(text "{\n  global:\n")
        foreach(name IN LISTS VULMORA_EXPORTED_FUNCTIONS VULMORA_EXPORTED_DATA)
            string(APPEND text "    ${name};\n")
        endforeach()
        string(APPEND text "  local: *;\n};\n")
        set(file "${dir}/exports.map")
    endif()
    file(CONFIGURE OUTPUT "${file}" CONTENT "${text}" @ONLY)
    set(${out} "${file}" PARENT_SCOPE)
endfunction()

function(vulmora_add_user_library target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES")
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "vulmora_add_user_library: unknown arguments ${arg_UNPARSED_ARGUMENTS}")
    endif()

    # A library without user sources is the delivered template; CMake still
    # wants one source of the target's own.
    set(unit "${CMAKE_CURRENT_BINARY_DIR}/${target}.vulmora/unit.c")
    file(CONFIGURE OUTPUT "${unit}"
         CONTENT "/* Generated: the template library has no sources of its own. */\ntypedef int vulmora_unit;\n")
    _vulmora_export_list(${target} exports)

    add_library(${target} SHARED ${arg_SOURCES} "${unit}")
    set_target_properties(${target} PROPERTIES PREFIX "lib" LINKER_LANGUAGE C)

    if(VULMORA_MIKRAL_LIBRARY)
        set(mikral "${VULMORA_MIKRAL_LIBRARY}")
    else()
        set(mikral Vulmora::mikral)
    endif()
    target_link_libraries(${target} PRIVATE
        "$<LINK_LIBRARY:WHOLE_ARCHIVE,Vulmora::core>" Vulmora::template Vulmora::headers ${mikral})

    if(MSVC)
        target_sources(${target} PRIVATE "${exports}")
        foreach(name IN LISTS VULMORA_ENTRY_POINTS)
            target_link_options(${target} PRIVATE "/INCLUDE:${name}")
        endforeach()
    else()
        # Every entry point is made undefined up front, so the template
        # archive supplies exactly those the user's objects lack.
        foreach(name IN LISTS VULMORA_ENTRY_POINTS)
            target_link_options(${target} PRIVATE "LINKER:-u,${name}")
        endforeach()
        target_compile_options(${target} PRIVATE -ffp-contract=off)
        if(WIN32)
            target_sources(${target} PRIVATE "${exports}")
            target_link_options(${target} PRIVATE -static-libgcc "LINKER:--no-undefined")
        else()
            target_link_options(${target} PRIVATE "LINKER:--version-script=${exports}"
                                "LINKER:--no-undefined" "LINKER:--as-needed"
                                "LINKER:-Bsymbolic-functions")
            set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${exports}")
        endif()
    endif()
endfunction()
