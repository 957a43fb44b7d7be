# VulmoraInstall.cmake - the installed package.
#
# After `cmake --install <build> --prefix <p>`, another CMake project finds
# the package with find_package(Vulmora CONFIG REQUIRED) and
# CMAKE_PREFIX_PATH=<p>, and builds its own user-function library with
# vulmora_add_user_library(). The package holds getVar.h with the lists it
# includes, the two static archives, the stand-in microstructure library,
# the CMake functions, and template.c (share/vulmora) for users to copy.

include(CMakePackageConfigHelpers)

set(VULMORA_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/Vulmora")

set(VULMORA_INSTALL_HEADER_DIR "${CMAKE_INSTALL_INCLUDEDIR}/vulmora")
install(FILES include/vulmora/getVar.h include/vulmora/vulmora_entry_points.h
              include/vulmora/vulmora_layout.h
        DESTINATION "${VULMORA_INSTALL_HEADER_DIR}")
# The template a user copies to start a library of their own.
set(VULMORA_INSTALL_DATA_DIR "${CMAKE_INSTALL_DATADIR}/vulmora")
install(FILES userfunc/template.c DESTINATION "${VULMORA_INSTALL_DATA_DIR}")
install(TARGETS vulmora_headers vulmora_core vulmora_template mikral
        EXPORT VulmoraTargets
        ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
        LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
        RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"
        PUBLIC_HEADER DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/vulmora")
install(TARGETS vulmora
        LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
        RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"
        ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}")
install(EXPORT VulmoraTargets NAMESPACE Vulmora:: DESTINATION "${VULMORA_CMAKE_DIR}")

configure_package_config_file(cmake/VulmoraConfig.cmake.in
    "${PROJECT_BINARY_DIR}/VulmoraConfig.cmake" INSTALL_DESTINATION "${VULMORA_CMAKE_DIR}"
    PATH_VARS VULMORA_INSTALL_HEADER_DIR VULMORA_INSTALL_DATA_DIR CMAKE_INSTALL_BINDIR)
write_basic_package_version_file("${PROJECT_BINARY_DIR}/VulmoraConfigVersion.cmake"
    COMPATIBILITY SameMinorVersion)
install(FILES "${PROJECT_BINARY_DIR}/VulmoraConfig.cmake"
              "${PROJECT_BINARY_DIR}/VulmoraConfigVersion.cmake"
              cmake/VulmoraExports.cmake cmake/VulmoraUserLibrary.cmake cmake/VulmoraHostTest.cmake
              cmake/VulmoraCheckNames.cmake cmake/VulmoraMikralCheck.cmake
              cmake/VulmoraBuildRecord.cmake
        DESTINATION "${VULMORA_CMAKE_DIR}")
