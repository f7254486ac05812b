# Installation: headers flat in include/, the libraries, a CMake package and a .pc file. Every
# installed file finds the others through relative paths, so a prefix can be moved as a whole.
include(CMakePackageConfigHelpers)

set(ZAM_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZamTarvexMuxMsg)

# The project's own headers, installed with the board's libraries too.
install(FILES
  ${PROJECT_SOURCE_DIR}/msg/LxTarvexMuxMsg.h
  ${PROJECT_SOURCE_DIR}/msg/LxTarvexDetectedMacMsg.h
  ${PROJECT_SOURCE_DIR}/msg/TarvexExport.h
  ${PROJECT_SOURCE_DIR}/msg/TarvexFrame.h
  ${PROJECT_SOURCE_DIR}/endpoint/LxTarvexMuxMsgServer.h
  ${PROJECT_SOURCE_DIR}/endpoint/LxTarvexMuxMsgClient.h
  ${PROJECT_SOURCE_DIR}/endpoint/TarvexFifos.h
  ${PROJECT_BINARY_DIR}/include/ZamTarvexMuxMsgVersion.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
set_target_properties(ZamTarvexMuxMsg PROPERTIES EXPORT_NAME TarvexMuxMsg)
set(zam_installed_libs ZamTarvexMuxMsg)
if(NOT ZAM_USE_PLATFORM_LIBS)
  install(FILES
    ${PROJECT_SOURCE_DIR}/ipc/ZamIpcExport.h
    ${PROJECT_SOURCE_DIR}/ipc/LxIpcSession.h
    ${PROJECT_SOURCE_DIR}/ipc/LxIpcFifoSession.h
    ${PROJECT_SOURCE_DIR}/ipc/LxIpcMsgBuffer.h
    ${PROJECT_SOURCE_DIR}/ipc/LxIpcMsgUtil.h
    ${PROJECT_SOURCE_DIR}/ipc/dlog.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  list(APPEND zam_installed_libs zamipc dlog)
endif()
# The libraries find their neighbours in their own directory.
set_target_properties(${zam_installed_libs} PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS ${zam_installed_libs} EXPORT ZamTarvexMuxMsgTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT ZamTarvexMuxMsgTargets NAMESPACE Zam:: DESTINATION ${ZAM_CMAKE_DIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZamTarvexMuxMsgConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ZamTarvexMuxMsgConfig.cmake INSTALL_DESTINATION ${ZAM_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZamTarvexMuxMsgConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZamTarvexMuxMsgConfig.cmake
  ${PROJECT_BINARY_DIR}/ZamTarvexMuxMsgConfigVersion.cmake
  ${PROJECT_SOURCE_DIR}/cmake/ZamPlatformLibs.cmake
  ${PROJECT_SOURCE_DIR}/cmake/toolchains/powerpc-linux-gnu.cmake
  DESTINATION ${ZAM_CMAKE_DIR})

# pkg-config: the prefix is found from the .pc file's own place.
file(RELATIVE_PATH ZAM_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" ZAM_PC_TO_PREFIX "${ZAM_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/ZamTarvexMuxMsg.pc.in
  ${PROJECT_BINARY_DIR}/ZamTarvexMuxMsg.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ZamTarvexMuxMsg.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
