# One function makes every test target: a GoogleTest executable whose
# cases ctest runs one by one, under a time limit so that a hang fails
# instead of stalling the run.
include(GoogleTest)
find_package(GTest REQUIRED)

function(pband_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main
    Threads::Threads pband_numerics pband_warnings)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT ${T_TIMEOUT})
  # Labels are set by a script that runs after the discovered tests are
  # added: passed through gtest_discover_tests, a list of labels would be
  # split into property names.
  if(T_LABELS)
    set(label_script "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake")
    file(WRITE "${label_script}"
      "if(${name}_TESTS)\n"
      "  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${T_LABELS}\")\n"
      "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${label_script}")
  endif()
  # One target per label builds every test carrying it (tests_threads for
  # the ThreadSanitizer run).
  foreach(label IN LISTS T_LABELS)
    if(NOT TARGET tests_${label})
      add_custom_target(tests_${label})
    endif()
    add_dependencies(tests_${label} ${name})
  endforeach()
endfunction()
