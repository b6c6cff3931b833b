# Shared compile settings for every target of the project.
add_library(verticora_warnings INTERFACE)
target_compile_options(verticora_warnings INTERFACE -Wall -Wextra -Wpedantic)
if(VERTICORA_WERROR)
  target_compile_options(verticora_warnings INTERFACE -Werror)
endif()

if(VERTICORA_SANITIZE)
  add_compile_options(-fsanitize=${VERTICORA_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VERTICORA_SANITIZE})
endif()

# The build string the application reports (and compares across an update).
if(NOT DEFINED VERTICORA_BUILD)
  execute_process(
    COMMAND git rev-list --count HEAD
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    OUTPUT_VARIABLE verticora_commit_count
    OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET
    RESULT_VARIABLE verticora_git_result)
  if(NOT verticora_git_result EQUAL 0 OR verticora_commit_count STREQUAL "")
    set(verticora_commit_count 0)
  endif()
  # Recomputed at every configure, unless given with -DVERTICORA_BUILD=...
  set(VERTICORA_BUILD "${verticora_commit_count}")
endif()

# verticora_add_library(NAME SOURCES... ) with the project's warnings applied.
function(verticora_add_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE verticora_warnings)
endfunction()

# The face detector's inner loops are built optimised in every build type: unoptimised
# they take a second per frame. The face scan carries its vector loops twice, for any
# x86-64 processor and for those with AVX2, and picks one at start, so a build that runs
# on every machine still runs the fast loops where it can. VERTICORA_NATIVE_DETECTOR
# (on by default, for a build made where it runs) builds the rest of the detector for
# this machine's processor too; AVX-512 is left out, as the loops run slower with it.
# Floating-point contraction stays off, as in ISO C++, so that every build computes
# dlib's sums to the last bit.
option(VERTICORA_NATIVE_DETECTOR "Build the face detector for this machine's processor" ON)
# (The loops pass eight-float vectors between their own functions; GCC's note that
# such calls differ with and without AVX concerns only calls across libraries.)
set(VERTICORA_DETECTOR_OPTIONS -O3 -fno-math-errno -ffp-contract=off -Wno-psabi)
if(VERTICORA_NATIVE_DETECTOR)
  list(APPEND VERTICORA_DETECTOR_OPTIONS -march=native -mno-avx512f)
endif()
# dlib's own templates (the model converter, the reference detector of the benchmark and
# the tests) stay uninstrumented too: instrumented they take a second per frame.
set(VERTICORA_DLIB_OPTIONS ${VERTICORA_DETECTOR_OPTIONS} -fno-sanitize=all)
