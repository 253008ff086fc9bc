#!/usr/bin/env bash
# Benchmarks beside their reference tools, on the same generated data in the same run.
# Usage: scripts/bench.sh [compare|memory|all]   (BENCH_DIR sets where trees are generated)
# Prints medians of 5 warm runs and their ratios; docs/benchmarks.md records the figures.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh native bench
cmake -S . -B build/rel -DCMAKE_BUILD_TYPE=Release -DFW_BUILD_BENCH=ON -DFW_BUILD_TESTS=OFF >/dev/null
cmake --build build/rel -j"$(nproc)" >/dev/null
bench=build/rel/bench/fw-bench
dir=${BENCH_DIR:-/tmp/fwbench}
what=${1:-all}
runs=5

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.4f", b - a}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

tree() {  # tree NAME FILES FOLDERS: generated once, reused by later runs
  local path="$dir/$1"
  if [ ! -f "$path.done" ]; then
    rm -rf "$path"
    "$bench" gen "$path" "$2" "$3"
    touch "$path.done"
  fi
}

echo "machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(uname -sr)"

if [ "$what" = compare ] || [ "$what" = all ]; then
  tree src100k 100000 10000
  rm -rf "$dir/trg100k"; cp -a "$dir/src100k" "$dir/trg100k"
  find "$dir/src100k" "$dir/trg100k" >/dev/null  # warm the cache
  ours=(); theirs=()
  for _ in $(seq $runs); do
    t0=$(now); find "$dir/src100k" "$dir/trg100k" -printf '%s %T@ %p\n' >/dev/null; t1=$(now)
    theirs+=("$(elapsed "$t0" "$t1")")
    ours+=("$("$bench" compare "$dir/src100k" "$dir/trg100k" | sed 's/.*seconds=\([^ ]*\).*/\1/')")
  done
  f=$(printf '%s\n' "${theirs[@]}" | median); c=$(printf '%s\n' "${ours[@]}" | median)
  echo "compare 2x100,000 files in 10,000 folders: ours ${c}s, find ${f}s, ratio $(ratio "$c" "$f")"
fi

if [ "$what" = memory ] || [ "$what" = all ]; then
  tree src1m 1000000 100000
  line=$("$bench" compare "$dir/src1m" "$dir/src1m")
  entries=$(echo "$line" | sed 's/.*entries=\([^ ]*\).*/\1/')
  rss=$(echo "$line" | sed 's/.*peak_rss_kib=\([^ ]*\).*/\1/')
  echo "memory at $entries entries: peak RSS ${rss} KiB, $(awk -v r="$rss" -v e="$entries" 'BEGIN {printf "%.0f", r * 1024 / e}') bytes per entry"
fi
