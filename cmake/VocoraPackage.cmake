# The SDK: cmake --install lays it out, CPack zips the same layout.
#   include/vocora.h
#   lib/libvocora.dll.a, lib/vocora.lib      the import library, GNU and MSVC names
#   bin/vocora.dll, bin/vocora-host.exe
#   lib/cmake/Vocora/                        find_package(Vocora CONFIG)
include(CMakePackageConfigHelpers)

install(TARGETS vocora EXPORT VocoraTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES $<TARGET_LINKER_FILE:vocora> DESTINATION ${CMAKE_INSTALL_LIBDIR} RENAME vocora.lib)
install(TARGETS vocora_host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(strConfigDir ${CMAKE_INSTALL_LIBDIR}/cmake/Vocora)
install(EXPORT VocoraTargets NAMESPACE Vocora:: DESTINATION ${strConfigDir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VocoraConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/VocoraConfig.cmake INSTALL_DESTINATION ${strConfigDir})
# A host built against 1.0 takes any 1.y.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VocoraConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VocoraConfig.cmake ${PROJECT_BINARY_DIR}/VocoraConfigVersion.cmake
        DESTINATION ${strConfigDir})

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME vocora)
set(CPACK_PACKAGE_VENDOR Vocora)
set(CPACK_PACKAGE_FILE_NAME vocora-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
