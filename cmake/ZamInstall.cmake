# Installation: headers flat in include/, the libraries, a CMake package and a .pc file.
include(CMakePackageConfigHelpers)

set(ZAM_PUBLIC_HEADERS
  ${PROJECT_SOURCE_DIR}/msg/LxTarvexMuxMsg.h
  ${PROJECT_SOURCE_DIR}/msg/LxTarvexDetectedMacMsg.h
  ${PROJECT_SOURCE_DIR}/endpoint/LxTarvexMuxMsgServer.h
  ${PROJECT_SOURCE_DIR}/endpoint/LxTarvexMuxMsgClient.h)
set(ZAM_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZamTarvexMuxMsg)

install(FILES ${ZAM_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
set_target_properties(ZamTarvexMuxMsg PROPERTIES EXPORT_NAME TarvexMuxMsg)
if(NOT ZAM_USE_PLATFORM_LIBS)
  install(FILES
    ${PROJECT_SOURCE_DIR}/ipc/ZamExport.h
    ${PROJECT_SOURCE_DIR}/ipc/LxIpcSession.h
    ${PROJECT_SOURCE_DIR}/ipc/LxIpcFifoSession.h
    ${PROJECT_SOURCE_DIR}/ipc/LxIpcMsgBuffer.h
    ${PROJECT_SOURCE_DIR}/ipc/LxIpcMsgUtil.h
    ${PROJECT_SOURCE_DIR}/ipc/dlog.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endif()

install(TARGETS ZamTarvexMuxMsg zamipc dlog zam_ipc_headers EXPORT ZamTarvexMuxMsgTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT ZamTarvexMuxMsgTargets NAMESPACE Zam:: DESTINATION ${ZAM_CMAKE_DIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZamTarvexMuxMsgConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ZamTarvexMuxMsgConfig.cmake INSTALL_DESTINATION ${ZAM_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZamTarvexMuxMsgConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZamTarvexMuxMsgConfig.cmake
  ${PROJECT_BINARY_DIR}/ZamTarvexMuxMsgConfigVersion.cmake DESTINATION ${ZAM_CMAKE_DIR})

configure_file(${PROJECT_SOURCE_DIR}/cmake/ZamTarvexMuxMsg.pc.in
  ${PROJECT_BINARY_DIR}/ZamTarvexMuxMsg.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ZamTarvexMuxMsg.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
