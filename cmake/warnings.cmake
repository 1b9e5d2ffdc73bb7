# Warnings every project target builds with.
add_library(pband_warnings INTERFACE)
target_compile_options(pband_warnings INTERFACE -Wall -Wextra)

# Common settings of a project library or executable.
function(pband_target_defaults target)
  target_link_libraries(${target} PUBLIC pband_numerics PRIVATE pband_warnings)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
