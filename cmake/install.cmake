# Installation: the library, the public headers, the tools, the man pages, a CMake package
# (find_package(qarn CONFIG) gives qarn::qarn), a pkg-config file, and the Debian package.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(qarn_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/qarn)

set_property(TARGET qarn PROPERTY INTERFACE_INCLUDE_DIRECTORIES
             $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS qarn EXPORT qarnTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h" PATTERN "*.hpp")

install(EXPORT qarnTargets NAMESPACE qarn:: DESTINATION ${qarn_cmake_dir})
configure_package_config_file(cmake/qarnConfig.cmake.in ${CMAKE_BINARY_DIR}/generated/qarnConfig.cmake
                              INSTALL_DESTINATION ${qarn_cmake_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/generated/qarnConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/generated/qarnConfig.cmake
              ${CMAKE_BINARY_DIR}/generated/qarnConfigVersion.cmake
        DESTINATION ${qarn_cmake_dir})

foreach(tool qarnctl dmsim)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

if(WIN32)
  return()
endif()

# qarn.pc names the prefix the files are installed under, which `cmake --install --prefix`
# can change after configuration: it is written at install time, in a folder of its own for
# each destination so that installs running side by side do not share the file.
install(CODE "
  set(QARN_VERSION \"${PROJECT_VERSION}\")
  set(QARN_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(QARN_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  string(MD5 destination \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  set(pc_file \"${CMAKE_BINARY_DIR}/generated/pc/\${destination}/qarn.pc\")
  configure_file(\"${CMAKE_SOURCE_DIR}/cmake/qarn.pc.in\" \"\${pc_file}\" @ONLY)
  file(INSTALL \"\${pc_file}\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\")")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qarn)
set(CPACK_PACKAGE_VENDOR "qarn")
set(QARN_PACKAGE_CONTACT "qarn maintainers <qarn@localhost>" CACHE STRING "maintainer of the Debian package")
set(CPACK_PACKAGE_CONTACT "${QARN_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "host-side driver library for IC-card terminals on an RS-485 line")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}
 libqarn runs numbered commands against the card terminals of one serial line: it builds
 each frame, sends it with RTS direction control, waits for the reply with time-outs and
 retransmissions and decodes it. The package holds the library, its C headers, the CMake and
 pkg-config files, the qarnctl and dmsim tools and the manual pages.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
