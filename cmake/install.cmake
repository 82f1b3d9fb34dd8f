# Installs the library with its public header, the edgebin and edgebin-review
# executables, a CMake package (find_package(edgebin) gives edgebin::edgebin)
# and edgebin.pc.
include(CMakePackageConfigHelpers)

set(EDGEBIN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/edgebin)
set(EDGEBIN_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS edgebin_core EXPORT edgebinTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS edgebin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET edgebin-review)
  install(TARGETS edgebin-review RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/edgebin DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT edgebinTargets NAMESPACE edgebin:: DESTINATION ${EDGEBIN_CMAKE_DIR})

configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/edgebinConfig.cmake.in
  ${CMAKE_BINARY_DIR}/edgebinConfig.cmake INSTALL_DESTINATION ${EDGEBIN_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/edgebinConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/edgebinConfig.cmake ${CMAKE_BINARY_DIR}/edgebinConfigVersion.cmake
  DESTINATION ${EDGEBIN_CMAKE_DIR})

# The .pc file finds the prefix from its own place, so that
# `cmake --install build --prefix P` gives a correct file for any P.
file(RELATIVE_PATH EDGEBIN_PC_TO_PREFIX /prefix/${EDGEBIN_PKGCONFIG_DIR} /prefix)
configure_file(${CMAKE_SOURCE_DIR}/cmake/edgebin.pc.in ${CMAKE_BINARY_DIR}/edgebin.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/edgebin.pc DESTINATION ${EDGEBIN_PKGCONFIG_DIR})
