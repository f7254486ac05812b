# Installation, in components, so that a board gets only what is meant for it:
#   runtime      the shared object and the programs (with their manual pages)
#   development  the headers, the .so link, the CMake package, the .pc file, the toolchain file
#   ptest        the test bundle (ZAM_INSTALL_TESTS=ON)
#   stand-ins    our own libzamipc and libdlog with their headers: a host or development
#                install only. Never installed unless asked for by name
#                (cmake --install BUILD --component stand-ins), so that a build over them
#                cannot put them where a board keeps its own.
# Every installed file finds the others through relative paths, so a prefix can be moved
# as a whole.
include(CMakePackageConfigHelpers)

set(ZAM_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZamTarvexMuxMsg)

install(FILES
  ${PROJECT_SOURCE_DIR}/msg/LxTarvexMuxMsg.h
  ${PROJECT_SOURCE_DIR}/msg/LxTarvexDetectedMacMsg.h
  ${PROJECT_SOURCE_DIR}/msg/TarvexExport.h
  ${PROJECT_SOURCE_DIR}/msg/TarvexFrame.h
  ${PROJECT_SOURCE_DIR}/endpoint/LxTarvexMuxMsgServer.h
  ${PROJECT_SOURCE_DIR}/endpoint/LxTarvexMuxMsgClient.h
  ${PROJECT_SOURCE_DIR}/endpoint/TarvexFifos.h
  ${PROJECT_BINARY_DIR}/include/ZamTarvexMuxMsgVersion.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

# The libraries find their neighbours in their own directory.
set_target_properties(ZamTarvexMuxMsg PROPERTIES EXPORT_NAME TarvexMuxMsg INSTALL_RPATH "$ORIGIN")
install(TARGETS ZamTarvexMuxMsg EXPORT ZamTarvexMuxMsgTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
          NAMELINK_COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT ZamTarvexMuxMsgTargets NAMESPACE Zam:: DESTINATION ${ZAM_CMAKE_DIR}
  COMPONENT development)

if(NOT ZAM_USE_PLATFORM_LIBS)
  install(FILES
    ${PROJECT_SOURCE_DIR}/ipc/ZamIpcExport.h
    ${PROJECT_SOURCE_DIR}/ipc/LxIpcSession.h
    ${PROJECT_SOURCE_DIR}/ipc/LxIpcFifoSession.h
    ${PROJECT_SOURCE_DIR}/ipc/LxIpcMsgBuffer.h
    ${PROJECT_SOURCE_DIR}/ipc/LxIpcMsgUtil.h
    ${PROJECT_SOURCE_DIR}/ipc/dlog.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT stand-ins EXCLUDE_FROM_ALL)
  set_target_properties(zamipc dlog PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS zamipc dlog EXPORT ZamStandInTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT stand-ins EXCLUDE_FROM_ALL
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(EXPORT ZamStandInTargets NAMESPACE Zam:: DESTINATION ${ZAM_CMAKE_DIR}
    COMPONENT stand-ins EXCLUDE_FROM_ALL)
endif()

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZamTarvexMuxMsgConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ZamTarvexMuxMsgConfig.cmake INSTALL_DESTINATION ${ZAM_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZamTarvexMuxMsgConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZamTarvexMuxMsgConfig.cmake
  ${PROJECT_BINARY_DIR}/ZamTarvexMuxMsgConfigVersion.cmake
  ${PROJECT_SOURCE_DIR}/cmake/ZamPlatformLibs.cmake
  ${PROJECT_SOURCE_DIR}/cmake/toolchains/powerpc-linux-gnu.cmake
  DESTINATION ${ZAM_CMAKE_DIR} COMPONENT development)

# pkg-config: the prefix is found from the .pc file's own place.
file(RELATIVE_PATH ZAM_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" ZAM_PC_TO_PREFIX "${ZAM_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/ZamTarvexMuxMsg.pc.in
  ${PROJECT_BINARY_DIR}/ZamTarvexMuxMsg.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ZamTarvexMuxMsg.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
