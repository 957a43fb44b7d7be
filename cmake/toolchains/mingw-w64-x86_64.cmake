# mingw-w64-x86_64.cmake - cross-build for 64-bit Windows on Linux with the
# MinGW-w64 compilers of the distribution (Debian: g++-mingw-w64-x86-64).
#
#   cmake --preset mingw        (or -DCMAKE_TOOLCHAIN_FILE=<this file>)
#
# Programs built for the target run under Wine when CMake or CTest needs to
# run them (CMAKE_CROSSCOMPILING_EMULATOR).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_vulmora_triplet x86_64-w64-mingw32)

# Debian ships both the win32-thread and the posix-thread variants; the
# plain names follow the alternatives system, which is what a user expects.
set(CMAKE_C_COMPILER ${_vulmora_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${_vulmora_triplet}-g++)
set(CMAKE_RC_COMPILER ${_vulmora_triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_vulmora_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(VULMORA_WINE NAMES wine wine64)
if(VULMORA_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${VULMORA_WINE}")
endif()

# Programs and DLLs that run on any Windows machine: the GCC, C++ and
# threads runtimes are linked in, leaving only system DLLs to import.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
