# Rounding rules for every target: each product and sum is rounded to its
# type, so no contraction into fused multiply-adds and no fast-math
# reassociation. The default build targets baseline x86-64 so one binary
# gives the same bits on every machine. No other file sets FP flags.
add_library(pband_numerics INTERFACE)
target_compile_options(pband_numerics INTERFACE
  -ffp-contract=off
  -fno-fast-math)
