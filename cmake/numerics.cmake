# Rounding rules for every target: each product and sum is rounded to its
# type, so no contraction into fused multiply-adds and no fast-math
# reassociation. The default build targets baseline x86-64 so one binary
# gives the same bits on every machine. No other file sets FP flags.
add_library(pband_numerics INTERFACE)
target_compile_options(pband_numerics INTERFACE
  -ffp-contract=off
  -fno-fast-math)

# gcc 12 turns complex products it vectorizes into fused multiply-add-
# subtracts (vfmaddsub) where FMA is on (the AVX-512 kernels), in spite of
# -ffp-contract=off. Complex kernel sources are therefore not auto-
# vectorized; their group forms use explicit vectors, which it leaves alone.
set(PBAND_COMPLEX_KERNEL_OPTIONS "")
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set(PBAND_COMPLEX_KERNEL_OPTIONS -fno-tree-vectorize)
endif()
