# VulmoraCompile.cmake - how the library's own code is compiled.
#
# C++20 without its runtime: no exceptions, no RTTI, nothing of libstdc++,
# so the built library needs only the C library when the host loads it.
# Arithmetic is never fused (-ffp-contract=off): results are bit for bit
# those of the written order of operations.

# Off for whoever builds the package; the presets (and so the checks) turn
# it on.
option(VULMORA_WERROR "Treat warnings as errors" OFF)
option(VULMORA_SANITIZE "Build with AddressSanitizer and UBSan" OFF)

# vulmora_warnings(<target> [TOOL])
# TOOL: a program of ours that is not library code (tests, the emulator),
# where clang's sign-conversion warnings on container indices are noise.
function(vulmora_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${VULMORA_WERROR}>:/WX>)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wconversion
                               $<$<BOOL:${VULMORA_WERROR}>:-Werror>)
    endif()
    if(ARGV1 STREQUAL "TOOL" AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        target_compile_options(${target} PRIVATE -Wno-sign-conversion)
    endif()
    # GCC 12 at -O3 reports a false overlap inside std::string's own
    # concatenation (GCC bug 105651, fixed in 13); the tools use strings.
    if(ARGV1 STREQUAL "TOOL" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU"
       AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(${target} PRIVATE -Wno-restrict)
    endif()
endfunction()

# Options of every object that goes into a user-function library.
function(vulmora_library_code target)
    vulmora_warnings(${target})
    set_target_properties(${target} PROPERTIES
        POSITION_INDEPENDENT_CODE ON
        CXX_VISIBILITY_PRESET hidden
        C_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON)
    if(MSVC)
        # The same guarantees with the Microsoft compiler: no exceptions, no
        # RTTI, no guarded statics; /fp:precise, which from Visual Studio 2022
        # on never contracts a*b+c.
        # The CRT's "use the _s functions" advice is not an error here.
        target_compile_options(${target} PRIVATE
            $<$<COMPILE_LANGUAGE:CXX>:/EHs-c- /GR- /Zc:threadSafeInit->
            /fp:precise)
        target_compile_definitions(${target} PRIVATE _HAS_EXCEPTIONS=0
                                   _CRT_SECURE_NO_WARNINGS)
    else()
        target_compile_options(${target} PRIVATE
            $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>
            -ffp-contract=off -fno-math-errno)
    endif()
endfunction()

if(VULMORA_SANITIZE AND NOT MSVC)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
