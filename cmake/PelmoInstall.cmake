include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS pelmo EXPORT pelmoTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/pelmo DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PELMO_GENERATED_INCLUDE_DIR}/pelmo/version.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pelmo)
install(EXPORT pelmoTargets NAMESPACE pelmo:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/pelmo)
configure_package_config_file(cmake/pelmoConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/pelmoConfig.cmake
                              INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/pelmo)
# find_package(pelmo 0.2 CONFIG) accepts any 0.2.x: the interface changes only with the
# minor version while the major version is 0.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/pelmoConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pelmoConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/pelmoConfigVersion.cmake
              cmake/FindGMP.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/pelmo)

# pkg-config: pelmo.pc in <libdir>/pkgconfig, with paths relative to its own location so
# that `cmake --install --prefix` anywhere gives a working file. GMP comes from its own
# gmpxx.pc where the system has one (Debian's libgmp-dev does), else as plain -l flags;
# either way only for static linking (Requires.private / Libs.private): a program that
# does arithmetic on pelmo::BigInt itself links GMP as its own dependency.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(PELMO_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(PELMO_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH _pelmo_up "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
  string(REGEX REPLACE "/$" "" _pelmo_up "${_pelmo_up}")
  set(PELMO_PC_PREFIX "\${pcfiledir}/${_pelmo_up}")
  set(PELMO_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(PELMO_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(PELMO_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(PELMO_GMPXX_PC QUIET gmpxx)
endif()
if(PELMO_GMPXX_PC_FOUND)
  set(PELMO_PC_GMP "Requires.private: gmpxx")
else()
  set(PELMO_PC_GMP "Libs.private: -lgmpxx -lgmp")
endif()
configure_file(cmake/pelmo.pc.in ${CMAKE_CURRENT_BINARY_DIR}/pelmo.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pelmo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
