# The test bundle (ZAM_INSTALL_TESTS=ON): the test programs, the fuzz targets' corpus replays
# with their corpora, the golden frames and run-ptest, installed together in ZAM_PTEST_DIR
# (component ptest), so that a board without CMake runs them with nothing but a shell. The
# programs find the installed libraries through relative run paths, as the programs do.
set(ZAM_PTEST_DIR ${CMAKE_INSTALL_LIBEXECDIR}/ZamTarvexMuxMsg/ptest)
file(RELATIVE_PATH zam_ptest_to_lib /${ZAM_PTEST_DIR} /${CMAKE_INSTALL_LIBDIR})
file(RELATIVE_PATH ZAM_PTEST_TO_BIN /${ZAM_PTEST_DIR} /${CMAKE_INSTALL_BINDIR})

# zam_install_ptest(TARGET KIND): TARGET into the bundle, run by run-ptest's function KIND
# (gtest: a GoogleTest program; replay: NAME_replay over corpus/NAME, given as NAME).
function(zam_install_ptest target kind)
  if(NOT ZAM_INSTALL_TESTS)
    return()
  endif()
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${zam_ptest_to_lib}")
  install(TARGETS ${target} RUNTIME DESTINATION ${ZAM_PTEST_DIR} COMPONENT ptest)
  if(kind STREQUAL "replay")
    string(REGEX REPLACE "_replay$" "" target ${target})
  endif()
  set_property(GLOBAL APPEND PROPERTY ZAM_PTEST_RUNS "${kind} ${target}")
endfunction()

# zam_install_ptest_data(SOURCE DESTINATION [NAME]): a file or directory the tests read, into
# the bundle's DESTINATION subdirectory (a file as NAME when given).
function(zam_install_ptest_data source destination)
  if(NOT ZAM_INSTALL_TESTS)
    return()
  endif()
  if(IS_DIRECTORY ${source})
    install(DIRECTORY ${source} DESTINATION ${ZAM_PTEST_DIR}/${destination} COMPONENT ptest)
  else()
    get_filename_component(name ${source} NAME)
    if(ARGC GREATER 2)
      set(name ${ARGV2})
    endif()
    install(FILES ${source} DESTINATION ${ZAM_PTEST_DIR}/${destination} RENAME ${name}
            COMPONENT ptest)
  endif()
endfunction()

# run-ptest, with a line for each test installed above; called once all are added.
function(zam_install_run_ptest)
  if(NOT ZAM_INSTALL_TESTS)
    return()
  endif()
  get_property(runs GLOBAL PROPERTY ZAM_PTEST_RUNS)
  list(JOIN runs "\n" ZAM_PTEST_RUNS)
  configure_file(${PROJECT_SOURCE_DIR}/tests/run-ptest.in ${PROJECT_BINARY_DIR}/run-ptest @ONLY)
  install(PROGRAMS ${PROJECT_BINARY_DIR}/run-ptest DESTINATION ${ZAM_PTEST_DIR} COMPONENT ptest)
endfunction()
