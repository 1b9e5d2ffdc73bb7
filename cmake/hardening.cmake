# Stack safety of every library object: a frame larger than what is left
# of a caller's stack probes page by page, so it faults at the guard page
# at once instead of writing into whatever lies below; and functions with
# arrays check a canary before they return. Neither changes a result.
include(CheckCXXCompilerFlag)
add_library(pband_hardening INTERFACE)
foreach(flag -fstack-clash-protection -fstack-protector-strong)
  string(MAKE_C_IDENTIFIER "PBAND_HAS${flag}" var)
  check_cxx_compiler_flag(${flag} ${var})
  if(${var})
    target_compile_options(pband_hardening INTERFACE ${flag})
  endif()
endforeach()
