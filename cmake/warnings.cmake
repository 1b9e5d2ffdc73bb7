# Warnings every project target builds with.
add_library(pband_warnings INTERFACE)
target_compile_options(pband_warnings INTERFACE -Wall -Wextra)

# Common settings of a project library or executable.
function(pband_target_defaults target)
  target_link_libraries(${target} PUBLIC pband_numerics PRIVATE pband_warnings)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# A project library whose objects also go into the installed libpband:
# compiled once, position independent and with hidden symbols (libpband
# exports only its C interface), and kept as the static library `name`
# for the benchmark and the tests. `name`_objects holds the objects.
function(pband_add_library name)
  add_library(${name}_objects OBJECT ${ARGN})
  set_target_properties(${name}_objects PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  pband_target_defaults(${name}_objects)
  target_link_libraries(${name}_objects PRIVATE pband_hardening)
  add_library(${name} STATIC)
  target_link_libraries(${name} PUBLIC ${name}_objects)
endfunction()
