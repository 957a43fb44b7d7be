# VulmoraUserLibrary.cmake - vulmora_add_user_library().
#
#   vulmora_add_user_library(<target> [SOURCES <file>...])
#
# Builds the shared library lib<target> (.so, or .dll on Windows) that the
# host loads: the exchange block, the converters and the accessors, the
# entry points defined in the given C or C++ sources, and the template
# placeholder of every entry point those sources leave out. Entry points
# need no export annotation: the export list names all of them, and
# nothing else is exported. The maths library is linked for the user.
#
# Every user source reads getVar.h first (-include, /FI), so each one sees
# the prototypes of the entry points, whether it includes getVar.h or not:
# a definition with another signature fails to compile on its own line.
# The body of func_<name> becomes the symbol vulmora_impl_<name> (renamed
# in the objects before the link); the exported func_<name> forwards to it.
# User libraries carry debug information in every configuration, at no cost
# at run time.
# Before the link, the user's objects are checked: a func_ name that is no
# entry point (a misspelling) or an entry point with C++ linkage fails the
# build with the nearest correct name, and so do sources that define no
# entry point at all. The check reads the objects with CMAKE_NM (GCC, Clang
# and MinGW toolchains); without nm (Visual Studio) it is left out.
#
# Every library carries its build record in the section .vmrec, unexported
# (VulmoraBuildRecord.cmake): the Vulmora version, the C compiler, the build
# type and its flags (CMAKE_C_FLAGS and those of the build type), the
# options and definitions the project gives the target after this call (as
# written, generator expressions unevaluated), and each user source's name,
# relative to the project's source folder, with its SHA-256. It is written at build time,
# so an edited source changes it at the next build; `vulmora-host about`
# prints it.
#
# Expects the targets Vulmora::core, Vulmora::template and Vulmora::headers,
# and the microstructure library in VULMORA_MIKRAL_LIBRARY (a path) or
# Vulmora::mikral (the stand-in). Works in the tree, through find_package
# and through add_subdirectory: the lists are kept as global properties.

include_guard(GLOBAL)
include("${CMAKE_CURRENT_LIST_DIR}/VulmoraExports.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/VulmoraMikralCheck.cmake")
set_property(GLOBAL PROPERTY VULMORA_CHECK_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/VulmoraCheckNames.cmake")
set_property(GLOBAL PROPERTY VULMORA_RECORD_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/VulmoraBuildRecord.cmake")

# Write the linker's export list for <target> and return its path.
function(_vulmora_export_list target out)
    get_property(functions GLOBAL PROPERTY VULMORA_EXPORTED_FUNCTIONS)
    get_property(data GLOBAL PROPERTY VULMORA_EXPORTED_DATA)
    set(dir "${CMAKE_CURRENT_BINARY_DIR}/${target}.vulmora")
    if(WIN32)
        set(text "LIBRARY lib${target}.dll\nEXPORTS\n")
        foreach(name IN LISTS functions)
            string(APPEND text "    ${name}\n")
        endforeach()
        foreach(name IN LISTS data)
            string(APPEND text "    ${name} DATA\n")
        endforeach()
        set(file "${dir}/exports.def")
    else()
        set(text "{\n  global:\n")
        foreach(name IN LISTS functions data)
            string(APPEND text "    ${name};\n")
        endforeach()
        string(APPEND text "  local: *;\n};\n")
        set(file "${dir}/exports.map")
    endif()
    file(CONFIGURE OUTPUT "${file}" CONTENT "${text}" @ONLY)
    set(${out} "${file}" PARENT_SCOPE)
endfunction()

# Fail now for a source CMake would not compile: its language is not
# enabled in the project (a .cpp file in a project of LANGUAGES C is left
# out silently otherwise).
function(_vulmora_check_languages target)
    get_property(enabled GLOBAL PROPERTY ENABLED_LANGUAGES)
    if(NOT "C" IN_LIST enabled)
        message(FATAL_ERROR "vulmora_add_user_library(${target}): the C language is not enabled; "
                            "declare it in project(... LANGUAGES C) or enable_language(C)")
    endif()
    foreach(source IN LISTS ARGN)
        get_filename_component(ext "${source}" LAST_EXT)
        set(lang "")
        if(ext MATCHES "^\\.(cpp|cc|cxx|c\\+\\+|C|CPP|cp)$")
            set(lang CXX)
        elseif(ext STREQUAL ".c")
            set(lang C)
        endif()
        if(lang AND NOT lang IN_LIST enabled)
            message(FATAL_ERROR "vulmora_add_user_library(${target}): ${source} is ${lang} code, "
                                "but the ${lang} language is not enabled, so CMake would not "
                                "compile it; add it to project(... LANGUAGES C ${lang}) or call "
                                "enable_language(${lang})")
        endif()
    endforeach()
endfunction()

# Compile the user's sources of <target> as a user library needs them:
# getVar.h read first, debug information, and the body of every entry point
# func_<name> named vulmora_impl_<name>. Where the toolchain has nm and
# objcopy, the objects' symbols are renamed before the link (see
# VulmoraCheckNames.cmake), so the compiler and the debugger still know the
# functions as func_<name>; elsewhere macros rename them. Sets <out> to the
# file of renames the link step applies, or to "".
function(_vulmora_user_sources target out)
    get_property(entry_points GLOBAL PROPERTY VULMORA_ENTRY_POINTS)
    get_property(headers GLOBAL PROPERTY VULMORA_HEADER_DIR)
    set(renames "")
    foreach(entry IN LISTS entry_points)
        string(REGEX REPLACE "^func_" "vulmora_impl_" impl "${entry}")
        string(APPEND renames "${entry} ${impl}\n")
    endforeach()
    set(file "")
    if(CMAKE_NM AND CMAKE_OBJCOPY AND NOT MSVC)
        set(file "${CMAKE_CURRENT_BINARY_DIR}/${target}.vulmora/entry_names.txt")
        file(CONFIGURE OUTPUT "${file}" CONTENT "${renames}" @ONLY)
        # The renames need real objects: link-time optimisation's hold no
        # symbols to rename, so it is off for user libraries.
        string(TOUPPER "${CMAKE_BUILD_TYPE}" config)
        if("${CMAKE_C_FLAGS} ${CMAKE_CXX_FLAGS} ${CMAKE_C_FLAGS_${config}} ${CMAKE_CXX_FLAGS_${config}}"
           MATCHES "-flto" OR CMAKE_INTERPROCEDURAL_OPTIMIZATION)
            message(STATUS "vulmora_add_user_library(${target}): link-time optimisation (-flto) "
                           "is off for this library: its entry points are renamed in its "
                           "objects, which LTO objects do not allow")
        endif()
        set_property(TARGET ${target} PROPERTY INTERPROCEDURAL_OPTIMIZATION OFF)
        target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:C,CXX>:-fno-lto>")
        target_link_options(${target} PRIVATE -fno-lto)
    else()
        string(REGEX REPLACE "([a-z0-9_]+) ([a-z0-9_]+)\n" "\\1=\\2;" defines "${renames}")
        target_compile_definitions(${target} PRIVATE ${defines})
    endif()
    set(getvar "${headers}/getVar.h")
    if(MSVC)
        target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:C,CXX>:/FI${getvar};/Z7>")
        target_link_options(${target} PRIVATE /DEBUG /OPT:REF /OPT:ICF)
    else()
        target_compile_options(${target} PRIVATE
                               "$<$<COMPILE_LANGUAGE:C,CXX>:SHELL:-include \"${getvar}\">"
                               "$<$<COMPILE_LANGUAGE:C,CXX>:-g>")
    endif()
    set(${out} "${file}" PARENT_SCOPE)
endfunction()

# Add to <target> the C file of its build record, made at build time from
# the sources (see VulmoraBuildRecord.cmake).
function(_vulmora_build_record target)
    get_property(script GLOBAL PROPERTY VULMORA_RECORD_SCRIPT)
    get_property(headers GLOBAL PROPERTY VULMORA_HEADER_DIR)
    set(sources "")
    foreach(source IN LISTS ARGN)
        get_filename_component(source "${source}" ABSOLUTE)
        list(APPEND sources "${source}")
    endforeach()
    set(compiler "${CMAKE_C_COMPILER_ID} ${CMAKE_C_COMPILER_VERSION}")
    if(CMAKE_CONFIGURATION_TYPES)
        set(type "$<CONFIG>")
        set(flags "${CMAKE_C_FLAGS}")
        foreach(config IN LISTS CMAKE_CONFIGURATION_TYPES)
            string(TOUPPER "${config}" upper)
            string(APPEND flags "$<$<CONFIG:${config}>: ${CMAKE_C_FLAGS_${upper}}>")
        endforeach()
    else()
        string(TOUPPER "${CMAKE_BUILD_TYPE}" upper)
        set(type "${CMAKE_BUILD_TYPE}")
        set(flags "${CMAKE_C_FLAGS} ${CMAKE_C_FLAGS_${upper}}")
    endif()
    set(record "${CMAKE_CURRENT_BINARY_DIR}/${target}.vulmora/build_record_$<CONFIG>.c")
    set(own "${CMAKE_CURRENT_BINARY_DIR}/${target}.vulmora/own_flags.txt")
    add_custom_command(
        OUTPUT "${record}"
        COMMAND "${CMAKE_COMMAND}" "-DOUTPUT=${record}" "-DGETVAR=${headers}/getVar.h"
                "-DCOMPILER=${compiler}" "-DBUILD_TYPE=${type}" "-DFLAGS=${flags}"
                "-DSOURCE_DIR=${PROJECT_SOURCE_DIR}" "-DSOURCES=${sources}" "-DOWN_FLAGS=${own}"
                -P "${script}"
        DEPENDS ${sources} "${script}" "${headers}/getVar.h" "${own}"
        COMMENT "Writing the build record of ${target}"
        VERBATIM)
    target_sources(${target} PRIVATE "${record}")
endfunction()

# What the project gave <target> after vulmora_add_user_library, run once
# its folder's CMakeLists.txt is read: the options and definitions beyond
# the first <n> of each, into <file> (rewritten only when they change).
function(_vulmora_record_own_flags target file options definitions)
    set(text "")
    foreach(property IN ITEMS COMPILE_OPTIONS COMPILE_DEFINITIONS)
        get_target_property(values ${target} ${property})
        if(NOT values)
            set(values "")
        endif()
        set(first ${definitions})
        if(property STREQUAL "COMPILE_OPTIONS")
            set(first ${options})
        endif()
        list(LENGTH values n)
        set(added "")
        if(n GREATER first)
            list(SUBLIST values ${first} -1 added)
        endif()
        list(JOIN added " " added)
        string(REPLACE "${PROJECT_SOURCE_DIR}" "<project>" added "${added}")
        string(APPEND text "${property} ${added}\n")
    endforeach()
    file(CONFIGURE OUTPUT "${file}" CONTENT "${text}" @ONLY)
endfunction()

function(vulmora_add_user_library target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES")
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "vulmora_add_user_library: unknown arguments ${arg_UNPARSED_ARGUMENTS}")
    endif()
    _vulmora_check_languages(${target} ${arg_SOURCES})

    # A library without user sources is the delivered template; CMake still
    # wants one source of the target's own.
    set(unit "${CMAKE_CURRENT_BINARY_DIR}/${target}.vulmora/unit.c")
    file(CONFIGURE OUTPUT "${unit}"
         CONTENT "/* Generated: the template library has no sources of its own. */\ntypedef int vulmora_unit;\n")
    _vulmora_export_list(${target} exports)

    add_library(${target} SHARED ${arg_SOURCES} "${unit}")
    set_target_properties(${target} PROPERTIES PREFIX "lib" LINKER_LANGUAGE C)

    _vulmora_user_sources(${target} renames)
    _vulmora_build_record(${target} ${arg_SOURCES})

    if(VULMORA_MIKRAL_LIBRARY)
        set(mikral "${VULMORA_MIKRAL_LIBRARY}")
        # A path is checked now rather than failing late in the build (a
        # generator expression names a target of the build).
        if(NOT mikral MATCHES "\\$<")
            vulmora_mikral_problem("${mikral}" problem)
            if(problem)
                message(FATAL_ERROR "VULMORA_MIKRAL_LIBRARY=${mikral}: ${problem}; it must name "
                                    "the site's microstructure library (libMikral.so, or "
                                    "libMikral.dll and its import library on Windows)")
            endif()
        endif()
    else()
        set(mikral Vulmora::mikral)
    endif()
    target_link_libraries(${target} PRIVATE
        "$<LINK_LIBRARY:WHOLE_ARCHIVE,Vulmora::core>" Vulmora::template Vulmora::headers ${mikral})
    if(UNIX)
        # exp, pow and the rest, for the user's functions (dropped again by
        # --as-needed when they use none).
        target_link_libraries(${target} PRIVATE m)
    endif()

    if(arg_SOURCES AND CMAKE_NM)
        get_property(script GLOBAL PROPERTY VULMORA_CHECK_SCRIPT)
        get_property(headers GLOBAL PROPERTY VULMORA_HEADER_DIR)
        add_custom_command(TARGET ${target} PRE_LINK
            COMMAND "${CMAKE_COMMAND}" "-DNM=${CMAKE_NM}" "-DTARGET=${target}"
                    "-DVULMORA_HEADER_DIR=${headers}" "-DOBJECTS=$<TARGET_OBJECTS:${target}>"
                    "-DOBJCOPY=${CMAKE_OBJCOPY}" "-DRENAMES=${renames}"
                    -P "${script}"
            COMMENT "Checking the entry points of ${target}"
            VERBATIM)
    endif()

    if(MSVC)
        target_sources(${target} PRIVATE "${exports}")
    else()
        target_compile_options(${target} PRIVATE -ffp-contract=off)
        if(WIN32)
            target_sources(${target} PRIVATE "${exports}")
            target_link_options(${target} PRIVATE -static-libgcc "LINKER:--no-undefined")
        else()
            # -Bsymbolic: the library's own reads of the exchange block go
            # to its own variables, even when the host or another library
            # loaded with RTLD_GLOBAL exports a variable of the same name.
            target_link_options(${target} PRIVATE "LINKER:--version-script=${exports}"
                                "LINKER:--no-undefined" "LINKER:--as-needed"
                                "LINKER:-Bsymbolic")
            set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${exports}")
        endif()
    endif()

    # The options and definitions the project adds from here on go into the
    # build record: count those the library has now.
    set(counts "")
    foreach(property IN ITEMS COMPILE_OPTIONS COMPILE_DEFINITIONS)
        get_target_property(values ${target} ${property})
        if(NOT values)
            set(values "")
        endif()
        list(LENGTH values n)
        list(APPEND counts ${n})
    endforeach()
    list(JOIN counts " " counts)
    cmake_language(EVAL CODE "cmake_language(DEFER CALL _vulmora_record_own_flags [[${target}]] \
                   [[${CMAKE_CURRENT_BINARY_DIR}/${target}.vulmora/own_flags.txt]] ${counts})")
endfunction()
