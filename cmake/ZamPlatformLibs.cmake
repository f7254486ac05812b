# The board's own libzamipc and libdlog as imported targets Zam::zamipc and Zam::dlog.
# Included by the build with ZAM_USE_PLATFORM_LIBS=ON and by the installed package built
# that way, so that an application finds them on its own machine: in the toolchain's sysroot,
# under CMAKE_PREFIX_PATH, or in the system's directories. Sets ZAM_PLATFORM_MISSING to what
# was not found.
set(ZAM_PLATFORM_MISSING "")
if(NOT TARGET Zam::zamipc)
  find_path(ZAM_PLATFORM_IPC_INCLUDE_DIR LxIpcFifoSession.h DOC "Directory of the board's IPC headers")
  find_path(ZAM_PLATFORM_DLOG_INCLUDE_DIR dlog.h DOC "Directory of the board's dlog.h")
  find_library(ZAM_PLATFORM_ZAMIPC zamipc DOC "The board's libzamipc")
  find_library(ZAM_PLATFORM_DLOG dlog DOC "The board's libdlog")
  foreach(found ZAM_PLATFORM_IPC_INCLUDE_DIR ZAM_PLATFORM_DLOG_INCLUDE_DIR ZAM_PLATFORM_ZAMIPC
                ZAM_PLATFORM_DLOG)
    if(NOT ${found})
      list(APPEND ZAM_PLATFORM_MISSING ${found})
    endif()
  endforeach()
  if(NOT ZAM_PLATFORM_MISSING)
    add_library(Zam::dlog UNKNOWN IMPORTED)
    set_target_properties(Zam::dlog PROPERTIES IMPORTED_LOCATION "${ZAM_PLATFORM_DLOG}"
                          INTERFACE_INCLUDE_DIRECTORIES "${ZAM_PLATFORM_DLOG_INCLUDE_DIR}")
    add_library(Zam::zamipc UNKNOWN IMPORTED)
    set_target_properties(Zam::zamipc PROPERTIES IMPORTED_LOCATION "${ZAM_PLATFORM_ZAMIPC}"
                          INTERFACE_INCLUDE_DIRECTORIES "${ZAM_PLATFORM_IPC_INCLUDE_DIR}")
  endif()
endif()
