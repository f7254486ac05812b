# Build settings shared by every target of the project.

# Flags every target gets: language level and the chosen sanitizers.
add_library(zam_build_flags INTERFACE)
target_compile_features(zam_build_flags INTERFACE cxx_std_17)
if(NOT ZAM_SANITIZER STREQUAL "none")
  target_compile_options(zam_build_flags INTERFACE -fsanitize=${ZAM_SANITIZER}
                         -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(zam_build_flags INTERFACE -fsanitize=${ZAM_SANITIZER})
endif()
set(ZAM_WERROR $<$<BOOL:${ZAM_WARNINGS_AS_ERRORS}>:-Werror>)

# The library's own code: strict warnings, hidden symbols.
function(zam_setup_target target)
  target_link_libraries(${target} PRIVATE $<BUILD_INTERFACE:zam_build_flags>)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wconversion -Wsign-conversion
                         -Wshadow -Wold-style-cast -Wformat=2 -Wnon-virtual-dtor ${ZAM_WERROR})
  set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF
                        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
                        POSITION_INDEPENDENT_CODE ON)
endfunction()

# Programs, tests, benchmarks and fuzzers: without the pedantic set that test and benchmark
# macros do not keep.
function(zam_setup_program target)
  target_link_libraries(${target} PRIVATE $<BUILD_INTERFACE:zam_build_flags>)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-missing-field-initializers
                         ${ZAM_WERROR})
  set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF)
endfunction()

# A shared object linked with no undefined symbol left, so that a missing definition fails
# the build and not the program that loads it. Sanitizer runtimes are resolved only when a
# program loads the library, so not with sanitizers (ours or CMAKE_CXX_FLAGS's).
function(zam_no_undefined target)
  if(ZAM_SANITIZER STREQUAL "none" AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()
