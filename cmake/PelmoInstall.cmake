include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS pelmo EXPORT pelmoTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/pelmo DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT pelmoTargets NAMESPACE pelmo:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/pelmo)
configure_package_config_file(cmake/pelmoConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/pelmoConfig.cmake
                              INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/pelmo)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/pelmoConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pelmoConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/pelmoConfigVersion.cmake
              cmake/FindGMP.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/pelmo)
