#!/bin/sh
# Times the program on a generated capacity case: the wall time of every stage
# and the peak memory (parclas-stages), the inbreeding against the
# straightforward computation, and the whole program as a process.
# Usage: scripts/benchmark.sh BUILD_DIR [ANIMALS] [RECORDS] [YEARS]
# BUILD_DIR must be configured with -DPARCLAS_BENCHMARKS=ON and built.
# With YEARS the case is closed lines over that many birth years
# (generate-case --shape lines), else the herds of the default shape.
set -e
build=$(cd "$1" && pwd)
animals=${2:-500000}
records=${3:-$((2 * animals))}
years=$4
case_dir=$build/cases/$animals-$records${years:+-lines$years}
run_dir=$build/benchmark-run
if [ ! -f "$case_dir/answers" ]; then
  "$build/generate-case" --seed 1 --animals "$animals" --records "$records" \
    ${years:+--shape lines --years "$years"} "$case_dir"
fi

fresh() {
  rm -rf "$run_dir"
  mkdir -p "$run_dir"
  cp "$case_dir"/* "$run_dir"/
}

echo "== stages ($animals animal numbers, $records records${years:+, closed lines over $years years})"
fresh
(cd "$run_dir" && "$build/bench/parclas-stages" --inbreeding-vs-reference 5 < answers 2>&1 > stages-console)
cp "$run_dir/stages-console" "$build/benchmark-stages-console"

echo
echo "== whole program"
fresh
if [ -x /usr/bin/time ]; then
  (cd "$run_dir" && /usr/bin/time -f "wall %e s, user %U s, system %S s, peak memory %M KB" \
     "$build/parclas" < answers 2>&1 > console)
else
  (cd "$run_dir" && "$build/parclas" < answers > console)
fi
if cmp -s "$run_dir/console" "$build/benchmark-stages-console"; then
  echo "console of the program and of the stage timer: identical"
else
  echo "console of the program and of the stage timer: DIFFERENT"
fi
