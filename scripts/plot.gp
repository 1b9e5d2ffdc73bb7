# Plots of the speed comparison from the data files pband_compare writes:
# time against team size (teams.png), time against half bandwidth for each
# size (sweep_hb.png; sweep_hb_double.png), time relative to reference
# LAPACK (sweep_ratio.png; sweep_ratio_double.png)
# and the band library's block width (nb.png).
#   gnuplot -e "outdir='bench/out'" scripts/plot.gp
if (!exists("outdir")) outdir = "bench/out"
exists_file(f) = system("test -f '".f."' && echo 1 || echo 0") eq "1"

set terminal pngcairo size 1400,620 font "DejaVu Sans,11" noenhanced
set grid
set datafile missing "NaN"
ms(x) = x > 0 ? 1e3 * x : NaN

# --- time against team size --------------------------------------------------
f = outdir."/teams.dat"
if (exists_file(f)) {
  set output outdir."/teams.png"
  set datafile columnheaders
  stats f using 1 nooutput
  tmax = STATS_max
  set multiplot layout 1,2 title \
    "Benchmark system n = 2000000, hb = 8: median time per solve " . \
    "(LAPACK single-threaded, drawn flat)"
  set xlabel "team size T"
  set ylabel "median time (ms, log scale)"
  set logscale y
  set xrange [0.8:tmax + 0.2]
  set xtics 1
  set key top left box opaque
  do for [p in "r4 r8"] {
    single = p eq "r4"
    solver = single ? "solve_band_system_r4" : "solve_band_system_r8"
    library = single ? "band_factor_solve_r4" : "band_factor_solve_r8"
    ref = single ? "spbsv [reference]" : "dpbsv [reference]"
    ob = single ? "spbsv [OpenBLAS]" : "dpbsv [OpenBLAS]"
    set title (single ? "single precision" : "double precision")
    plot f using 1:(ms(column(solver))) with linespoints lw 2 pt 7 \
           title solver." (cyclic reduction)", \
         f using 1:(ms(column(library))) with linespoints lw 2 pt 5 \
           title library." (band library)", \
         f using 1:(ms(column(ref))) with lines lw 2 dt 2 \
           title "LAPACK ".ref, \
         f using 1:(ms(column(ob))) with lines lw 2 dt 3 \
           title "LAPACK ".ob
  }
  unset multiplot
  unset logscale
  unset xrange
  set xtics autofreq
  set datafile nocolumnheaders
}

# --- time against half bandwidth, one panel per size, float then double ----
do for [prec in "float double"] {
single = prec eq "float"
f = outdir.(single ? "/sweep.dat" : "/sweep_double.dat")
sfx = single ? "" : "_double"
call_name = single ? "pband_solve_s" : "pband_solve_d"
ref_name = single ? "spbsv" : "dpbsv"
if (exists_file(f)) {
  set output outdir."/sweep_hb".sfx.".png"
  set terminal pngcairo size 1400,1000 font "DejaVu Sans,11" noenhanced
  stats f using 1 nooutput
  blocks = STATS_blocks
  sizes = ""
  do for [i = 0:blocks - 1] {
    stats f index i using 1 nooutput
    sizes = sizes . sprintf(" %d", STATS_max)
  }
  set multiplot layout 2,2 title \
    call_name." against ".ref_name.", benchmark-type matrix: " . \
    "median time per solve"
  set logscale xy
  set logscale x 2
  set xtics autofreq
  set xlabel "half bandwidth hb"
  set ylabel "median time (ms)"
  set key top left box opaque
  do for [i = 0:blocks - 1] {
    set title "n = ".word(sizes, i + 1)
    plot f index i using 2:(ms($5)) with linespoints lw 2 pt 7 \
           title "ours, T = 1", \
         f index i using 2:(ms($6)) with linespoints lw 2 pt 9 \
           title "ours, T = all", \
         f index i using 2:(ms($3)) with linespoints lw 2 pt 5 dt 2 \
           title ref_name." reference LAPACK", \
         f index i using 2:(ms($4)) with linespoints lw 2 pt 4 dt 3 \
           title ref_name." OpenBLAS (1 thread)"
  }
  unset multiplot

  set output outdir."/sweep_ratio".sfx.".png"
  set terminal pngcairo size 1000,650 font "DejaVu Sans,11" noenhanced
  set title call_name.": time relative to reference ".ref_name. \
    " (below 1 = faster than LAPACK)"
  set ylabel "time / reference ".ref_name." time (log scale)"
  set key outside right top box opaque
  # one colour per size; solid T = 1, dashed T = all
  plot for [i = 0:blocks - 1] f index i using 2:($5 / $3) \
         with linespoints lw 2 pt 7 lc i + 1 \
         title "n = ".word(sizes, i + 1).", T = 1", \
       for [i = 0:blocks - 1] f index i using 2:($6 / $3) \
         with linespoints lw 2 pt 9 dt 2 lc i + 1 \
         title "n = ".word(sizes, i + 1).", T = all", \
       1 with lines lc "black" lw 1 notitle
  unset logscale
  unset title
}
}

# --- band library block width -------------------------------------------------
f = outdir."/nb.dat"
if (exists_file(f)) {
  set output outdir."/nb.png"
  set terminal pngcairo size 900,600 font "DejaVu Sans,11" noenhanced
  set datafile columnheaders
  set title "band_factor_solve_r4, n = 2000000, hb = 8: block width"
  set xlabel "block width nb"
  set ylabel "median time (ms, log scale)"
  set logscale xy
  set logscale x 2
  set xtics autofreq
  set key inside top right box opaque
  stats f nooutput
  plot for [c = 2:STATS_columns] f using 1:(ms(column(c))) \
    with linespoints lw 2 pt 7 title columnheader(c)
  set datafile nocolumnheaders
}
