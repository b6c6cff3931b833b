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
