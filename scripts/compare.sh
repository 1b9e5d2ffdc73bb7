#!/usr/bin/env bash
# Speed comparison: our solver and band library against LAPACK spbsv/dpbsv
# (reference and single-threaded OpenBLAS, both loaded into one process).
# Installs what is missing, builds the `bench` preset, runs the comparison
# into bench/out/results.txt and draws bench/out/*.png with gnuplot.
#
#   scripts/compare.sh [--install-only] [--no-run] [--wait-quiet]
#                      [options of pband_compare, see --help]
#   e.g. scripts/compare.sh --quick        (a minute or two)
#        scripts/compare.sh --wait-quiet   (full run, about five minutes,
#                                           once the load average is low)
# Times on a shared machine are only as good as its quiet: the table shows
# the load average and, per row, how often the process was preempted.
#
# Installing OpenBLAS registers it as Debian's liblapack.so.3 / libblas.so.3
# alternative with a higher priority than reference LAPACK/BLAS, which would
# silently switch every program on the machine (the tests included) to
# OpenBLAS. So the groups are pinned to the reference libraries before the
# install when that is what they point to, and set back afterwards if the
# install switched them anyway (`update-alternatives --set`, which leaves
# the group in manual mode). The benchmark itself never goes through the
# alternatives: it opens every library by its full path.
set -euo pipefail
cd "$(dirname "$0")/.."

install_only=0
run=1
wait_quiet=0
args=()
for a in "$@"; do
  case "$a" in
    --install-only) install_only=1 ;;
    --no-run) run=0 ;;
    --wait-quiet) wait_quiet=1 ;;
    *) args+=("$a") ;;
  esac
done

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
multiarch="$(gcc -print-multiarch 2>/dev/null || true)"
[ -n "$multiarch" ] || multiarch="x86_64-linux-gnu"
libdir="/usr/lib/$multiarch"

# --- install what is missing -------------------------------------------------
scripts/install-deps.sh
missing=()
is_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
for p in gnuplot-nox liblapack3 libblas3 libopenblas0-pthread; do
  is_installed "$p" || missing+=("$p")
done
# gnuplot from another package (gnuplot-qt, gnuplot-x11) is fine too.
if command -v gnuplot >/dev/null; then
  tmp=()
  for p in "${missing[@]}"; do [ "$p" = gnuplot-nox ] || tmp+=("$p"); done
  missing=("${tmp[@]+"${tmp[@]}"}")
fi

alternative_value() {  # current target of an alternatives group, or empty
  update-alternatives --query "$1" 2>/dev/null \
    | sed -n 's/^Value: //p' | head -n 1
}
groups=("liblapack.so.3-$multiarch" "libblas.so.3-$multiarch")
refs=("$libdir/lapack/liblapack.so.3" "$libdir/blas/libblas.so.3")

if [ ${#missing[@]} -gt 0 ]; then
  before=()
  for i in "${!groups[@]}"; do
    before[i]="$(alternative_value "${groups[i]}")"
    # Pin a group that points to the reference library so that the new
    # provider's higher priority cannot take it over.
    if [ "${before[i]}" = "${refs[i]}" ]; then
      $sudo update-alternatives --set "${groups[i]}" "${refs[i]}" >/dev/null
    fi
  done
  echo "installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq \
    --no-install-recommends "${missing[@]}"
  for i in "${!groups[@]}"; do
    now="$(alternative_value "${groups[i]}")"
    if [ -n "${before[i]}" ] && [ "$now" != "${before[i]}" ]; then
      echo "restoring ${groups[i]}: $now -> ${before[i]}"
      $sudo update-alternatives --set "${groups[i]}" "${before[i]}"
    fi
  done
fi
[ "$install_only" -eq 1 ] && exit 0

# --- build ---------------------------------------------------------------------
# tests are not needed here; a half-edited test folder must not stop it
cmake --preset bench -DPBAND_BUILD_TESTS=OFF >/dev/null
cmake --build --preset bench --target pband_compare
[ "$run" -eq 1 ] || exit 0

# --- run -----------------------------------------------------------------------
out=bench/out
mkdir -p "$out"
if [ "$wait_quiet" -eq 1 ]; then
  # the 1-minute load average, for at most 15 minutes
  for _ in $(seq 90); do
    load="$(cut -d' ' -f1 /proc/loadavg)"
    awk -v l="$load" 'BEGIN { exit !(l < 0.7) }' && break
    echo "waiting for a quiet machine (load average $load)"
    sleep 10
  done
fi
echo "load before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
build/bench/bench/pband_compare --data-dir "$out" "${args[@]+"${args[@]}"}" \
  | tee "$out/results.txt"
echo "load after the run: $(cut -d' ' -f1-3 /proc/loadavg)" \
  | tee -a "$out/results.txt"

# --- plots ---------------------------------------------------------------------
gnuplot -e "outdir='$out'" scripts/plot.gp
ls -l "$out"/*.png
