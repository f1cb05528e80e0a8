# Helpers shared by every module's CMakeLists.txt.

# tarnhold_module(<target> SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
# One static library per module. Headers are included as "<folder>/<header>.h" from the
# source root (for example "platform/scene/scene.h"), so the root is the include directory.
function(tarnhold_module target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${target} STATIC ${ARG_SOURCES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  target_link_libraries(${target} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# tarnhold_test(<binary> PREFIX <module> LABEL unit|render|e2e SOURCES ... [DEPS ...]
#               [TIMEOUT seconds])
# One GoogleTest binary; every test is registered with CTest as "<module>.<Suite>.<Test>" and
# carries the label, so `ctest -L unit` or `ctest -R '^scene\.'` select them.
function(tarnhold_test binary)
  cmake_parse_arguments(ARG "" "PREFIX;LABEL;TIMEOUT" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${binary} ${ARG_SOURCES})
  target_compile_options(${binary} PRIVATE -Wall -Wextra)
  target_include_directories(${binary} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${binary} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${binary} PRIVATE
    TARNHOLD_INSTALL_DIR="${TARNHOLD_INSTALL_DIR}"
    TARNHOLD_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TARNHOLD_BINARY_DIR="${CMAKE_BINARY_DIR}")
  # A test that names no data folder of its own writes the player's data (the corridor's logos,
  # downloads) under the build tree, never into the home folder of whoever runs the tests.
  gtest_discover_tests(${binary}
    TEST_PREFIX "${ARG_PREFIX}."
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT}
               ENVIRONMENT "XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-data/${binary}"
    DISCOVERY_TIMEOUT 60)
endfunction()

# tarnhold_program(<target> SOURCES ... [DEPS ...])
# An executable placed in the installation directory (build/tarnhold/).
function(tarnhold_program target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  target_link_libraries(${target} PRIVATE ${ARG_DEPS})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TARNHOLD_INSTALL_DIR})
endfunction()
