#!/usr/bin/env bash
# Benchmarks beside their reference tools, on the same generated data in the same run.
# Usage: scripts/bench.sh [compare|memory|state|sync|diff|all|tree|timeshift]   (BENCH_DIR: where trees are made;
# COMPARE_RUNS: runs of the compare benchmark, default 5)
# "diff": saving and applying a difference beside gzip, pigz and tar; with BASE_CLI set to the
# ferrywick-cli of an earlier build, that build's apply runs in the same loop too, and in
# "sync" its first full copy.
# "timeshift" (not part of "all"): the comparison with --ignore-time-shift 1 against the plain
# one, on a target whose every file is one hour later than the source's.
# "tree" (not part of "all"): the File Tree window under Wine, opened on 100,000 entries and a
# folder of 10,000 expanded; then keypad "*" on "Root" over 100,000 entries and the untick of
# "Root" with all of them shown; three runs, each making its own files. With BASE_GUI_TESTS set
# to the gui_tests.exe of an earlier build, that build's runs are interleaved with ours.
# FW_BENCH_TREE_TOP=10 runs keypad "*" and the untick over 10,010 entries instead.
# Prints medians of 5 warm runs and their ratios; docs/benchmarks.md records the figures.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh native bench
cmake -S . -B build/rel -DCMAKE_BUILD_TYPE=Release -DFW_BUILD_BENCH=ON -DFW_BUILD_TESTS=OFF >/dev/null
cmake --build build/rel -j"$(nproc)" >/dev/null
bench=$(pwd)/build/rel/bench/fw-bench
cli=$(pwd)/build/rel/cli/ferrywick-cli
dir=${BENCH_DIR:-/tmp/fwbench}
what=${1:-all}
runs=${RUNS:-5}

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.4f", b - a}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

tree() {  # tree NAME FILES FOLDERS [MAXSIZE]: generated once, reused by later runs
  local path="$dir/$1"
  if [ ! -f "$path.done" ]; then
    rm -rf "$path"
    "$bench" gen "$path" "$2" "$3" "${4:-0}"
    touch "$path.done"
  fi
}
# timed COMMAND...: prints the seconds the command took (its output discarded).
timed() { local t0 t1; t0=$(now); "$@" >/dev/null 2>&1; t1=$(now); elapsed "$t0" "$t1"; }
mbs() { awk -v b="$1" -v s="$2" 'BEGIN {printf "%.0f", b / s / 1048576}'; }

echo "machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(uname -sr)"

if [ "$what" = compare ] || [ "$what" = all ]; then
  tree src100k 100000 10000
  if [ ! -f "$dir/trg100k.done" ]; then
    rm -rf "$dir/trg100k"; cp -a "$dir/src100k" "$dir/trg100k"; touch "$dir/trg100k.done"
  fi
  find "$dir/src100k" "$dir/trg100k" >/dev/null  # warm the cache
  # Interleaved: find, the one-thread readdir+fstatat floor, ours on one thread (the
  # sequential scan) and ours as the program runs it.
  ours=(); one=(); theirs=(); floor=()
  secs() { sed 's/.*seconds=\([^ ]*\).*/\1/'; }
  for _ in $(seq "${COMPARE_RUNS:-$runs}"); do
    t0=$(now); find "$dir/src100k" "$dir/trg100k" -printf '%s %T@ %p\n' >/dev/null; t1=$(now)
    theirs+=("$(elapsed "$t0" "$t1")")
    floor+=("$("$bench" floor "$dir/src100k" "$dir/trg100k" | secs)")
    one+=("$("$bench" compare "$dir/src100k" "$dir/trg100k" 1 | secs)")
    ours+=("$("$bench" compare "$dir/src100k" "$dir/trg100k" | secs)")
  done
  m() { printf '%s\n' "$@" | median; }
  f=$(m "${theirs[@]}"); c=$(m "${ours[@]}"); l=$(m "${floor[@]}"); s1=$(m "${one[@]}")
  echo "compare 2x100,000 files in 10,000 folders: ours ${c}s, find ${f}s, floor (readdir+fstatat, one thread) ${l}s, ours on one thread ${s1}s"
  echo "  ours/find $(ratio "$c" "$f") (target <= 0.8), ours/floor $(ratio "$c" "$l") (target <= 1.2), one thread: /find $(ratio "$s1" "$f"), /floor $(ratio "$s1" "$l")"
fi

if [ "$what" = memory ] || [ "$what" = all ]; then
  tree src1m 1000000 100000
  line=$("$bench" compare "$dir/src1m" "$dir/src1m")
  entries=$(echo "$line" | sed 's/.*entries=\([^ ]*\).*/\1/')
  rss=$(echo "$line" | sed 's/.*peak_rss_kib=\([^ ]*\).*/\1/')
  echo "memory at $entries entries: peak RSS ${rss} KiB, $(awk -v r="$rss" -v e="$entries" 'BEGIN {printf "%.0f", r * 1024 / e}') bytes per entry"
fi

if [ "$what" = timeshift ]; then
  tree src100k 100000 10000
  rm -rf "$dir/shift100k"; cp -a "$dir/src100k" "$dir/shift100k"
  python3 - "$dir/shift100k" <<'PY'
import os, sys
for folder, _, files in os.walk(sys.argv[1]):
    for f in files:
        p = os.path.join(folder, f); st = os.stat(p)
        os.utime(p, ns=(st.st_atime_ns, st.st_mtime_ns + 3600 * 10**9))
PY
  find "$dir/src100k" "$dir/shift100k" >/dev/null  # warm the cache
  plain=(); shifted=(); theirs=()
  for _ in $(seq 7); do  # interleaved: find, plain, shifted
    t0=$(now); find "$dir/src100k" "$dir/shift100k" -printf '%s %T@ %p\n' >/dev/null; t1=$(now)
    theirs+=("$(elapsed "$t0" "$t1")")
    plain+=("$("$bench" compare "$dir/src100k" "$dir/shift100k" 0 0 | sed 's/.*seconds=\([^ ]*\).*/\1/')")
    shifted+=("$("$bench" compare "$dir/src100k" "$dir/shift100k" 0 1 | sed 's/.*seconds=\([^ ]*\).*/\1/')")
  done
  f=$(printf '%s\n' "${theirs[@]}" | median); p=$(printf '%s\n' "${plain[@]}" | median)
  s=$(printf '%s\n' "${shifted[@]}" | median)
  echo "compare 2x100,000 files, target 1 h later, medians of 7: plain ${p}s, --ignore-time-shift 1 ${s}s, find ${f}s"
  echo "  shifted against plain $(ratio "$s" "$p"), plain against find $(ratio "$p" "$f"), shifted against find $(ratio "$s" "$f")"
fi

if [ "$what" = state ] || [ "$what" = all ]; then
  tree src100k 100000 10000
  scan=(); save=(); load=(); ref=()
  for _ in $(seq $runs); do
    line=$("$bench" save-state "$dir/src100k" "$dir/s.fws")
    scan+=("$(echo "$line" | sed 's/.*scan_seconds=\([^ ]*\).*/\1/')")
    save+=("$(echo "$line" | sed 's/.*save_seconds=\([^ ]*\).*/\1/')")
    entries=$(echo "$line" | sed 's/.*entries=\([^ ]*\).*/\1/')
    bytes=$(echo "$line" | sed 's/.*bytes=\([^ ]*\).*/\1/')
    load+=("$("$bench" load-state "$dir/s.fws" | sed 's/.*seconds=\([^ ]*\).*/\1/')")
    ref+=("$(timed sh -c "find '$dir/src100k' -printf '%P\\0%s\\0%T@\\0' | gzip -6 > /dev/null")")
  done
  sc=$(printf '%s\n' "${scan[@]}" | median); sv=$(printf '%s\n' "${save[@]}" | median)
  ld=$(printf '%s\n' "${load[@]}" | median); rf=$(printf '%s\n' "${ref[@]}" | median)
  total=$(awk -v a="$sc" -v b="$sv" 'BEGIN {printf "%.4f", a + b}')
  echo "state of $entries entries: scan ${sc}s + save ${sv}s = ${total}s; find|gzip -6 ${rf}s; ratio $(ratio "$total" "$rf")"
  echo "  saving $(awk -v e="$entries" -v s="$sv" 'BEGIN {printf "%.0f", e / s}') entries/s, loading $(awk -v e="$entries" -v s="$ld" 'BEGIN {printf "%.0f", e / s}') entries/s (load ${ld}s vs scan ${sc}s), file $(awk -v b="$bytes" -v e="$entries" 'BEGIN {printf "%.2f", b / e}') bytes/entry"
fi

mix_tree() {  # the mixed-size tree and its 20%-changed copy
  # Mixed sizes up to 1 MiB, text with some random chunks (about 2.5:1 under deflate).
  tree mix 5000 500 1048576
  if [ ! -f "$dir/changed.done" ]; then
    rm -rf "$dir/changed"; cp -a "$dir/mix" "$dir/changed"
    "$bench" change "$dir/changed" 5000 500 1048576 20
    touch "$dir/changed.done"
  fi
  bytes=$(du -sb "$dir/mix" | cut -f1)
  mkdir -p "$dir/empty"
}
m() { printf '%s\n' "$@" | median; }

if [ "$what" = sync ] || [ "$what" = all ]; then
  mix_tree
  base=${BASE_CLI:-}
  first=(); cp=(); part=(); rs=(); firstb=()
  for _ in $(seq $runs); do
    rm -rf "$dir/dst"; first+=("$(timed "$cli" sync --mirror --quiet "$dir/mix" "$dir/dst")")
    rm -rf "$dir/dst"; cp+=("$(timed cp -a "$dir/mix" "$dir/dst")")
    if [ -n "$base" ]; then
      rm -rf "$dir/dst"; firstb+=("$(timed "$base" sync --mirror --quiet "$dir/mix" "$dir/dst")")
    fi
    rm -rf "$dir/dst"; cp -a "$dir/mix" "$dir/dst"
    part+=("$(timed "$cli" sync --mirror --quiet "$dir/changed" "$dir/dst")")
    rm -rf "$dir/dst"; cp -a "$dir/mix" "$dir/dst"
    rs+=("$(timed rsync -a --delete "$dir/changed/" "$dir/dst/")")
  done
  f=$(m "${first[@]}"); c=$(m "${cp[@]}"); p=$(m "${part[@]}"); r=$(m "${rs[@]}")
  echo "first full copy: ours ${f}s, cp -a ${c}s, ratio $(ratio "$f" "$c") (target <= 1.0)"
  if [ -n "$base" ]; then
    fb=$(m "${firstb[@]}")
    echo "  earlier build ${fb}s: ratio to cp -a $(ratio "$fb" "$c"), ours against it $(ratio "$f" "$fb")"
  fi
  echo "sync after 20% changed: ours ${p}s, rsync -a --delete ${r}s, ratio $(ratio "$p" "$r")"
fi

if [ "$what" = diff ] || [ "$what" = all ]; then
  mix_tree
  tar -c -C "$dir" mix | gzip -6 >"$dir/mix.tar.gz"
  base=${BASE_CLI:-}
  save=(); gz=(); pz=(); apply=(); before=(); beforev=(); unpz=()
  for _ in $(seq $runs); do
    rm -f "$dir"/d*.fwd
    save+=("$(timed "$cli" save-diff --mirror --quiet -o "$dir/d.fwd" "$dir/mix" "$dir/empty")")
    gz+=("$(timed sh -c "tar -c -C '$dir' mix | gzip -6 > /dev/null")")
    pz+=("$(timed sh -c "tar -c -C '$dir' mix | pigz -6 -p 2 > /dev/null")")
    rm -rf "$dir/dst"; apply+=("$(timed "$cli" sync --mirror --quiet "$dir/d.fwd" "$dir/dst")")
    if [ -n "$base" ]; then
      rm -rf "$dir/dst"; before+=("$(timed "$base" sync --mirror --no-verify --quiet "$dir/d.fwd" "$dir/dst")")
      rm -rf "$dir/dst"; beforev+=("$(timed "$base" sync --mirror --quiet "$dir/d.fwd" "$dir/dst")")
    fi
    rm -rf "$dir/dst"; mkdir -p "$dir/dst"
    unpz+=("$(timed sh -c "pigz -dc '$dir/mix.tar.gz' | tar -x -C '$dir/dst'")")
  done
  rm -rf "$dir/dst"
  sv=$(m "${save[@]}"); g=$(m "${gz[@]}"); z=$(m "${pz[@]}"); a=$(m "${apply[@]}"); u=$(m "${unpz[@]}")
  echo "data: 5,000 files in 500 folders, $(awk -v b="$bytes" 'BEGIN {printf "%.0f", b / 1048576}') MiB, tar.gz $(awk -v b="$(stat -c %s "$dir/mix.tar.gz")" 'BEGIN {printf "%.0f", b / 1048576}') MiB, difference $(du -cb "$dir"/d*.fwd | tail -1 | awk '{printf "%.0f", $1 / 1048576}') MiB; $(nproc) cores"
  echo "save difference: ours ${sv}s ($(mbs "$bytes" "$sv") MB/s), tar|gzip -6 ${g}s ($(mbs "$bytes" "$g") MB/s), tar|pigz -6 -p 2 ${z}s ($(mbs "$bytes" "$z") MB/s)"
  echo "  throughput against gzip -6: $(ratio "$g" "$sv") (target >= 1.7); against pigz -p 2: $(ratio "$z" "$sv") (target >= 0.95)"
  echo "apply difference (one pass, verified): ours ${a}s ($(mbs "$bytes" "$a") MB/s), pigz -dc|tar -x ${u}s ($(mbs "$bytes" "$u") MB/s), throughput ratio $(ratio "$u" "$a") (target >= 1)"
  if [ -n "$base" ]; then
    b=$(m "${before[@]}"); bv=$(m "${beforev[@]}")
    echo "  earlier build: --no-verify ${b}s, verified ${bv}s; ours against its unverified apply: $(ratio "$a" "$b") (time, target <= 1.1), against its verified one: $(ratio "$a" "$bv")"
  fi
fi

if [ "$what" = tree ]; then
  scripts/install-deps.sh windows gui
  cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE="$(pwd)/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/win -j"$(nproc)" --target gui_tests >/dev/null
  gui() {  # gui EXE FILTER: the benchmark's line of results
    xvfb-run -a -s "-screen 0 1024x768x24" scripts/wine-run.sh "$1" \
      --gtest_also_run_disabled_tests --gtest_filter="$2" 2>/dev/null | grep -E '^(open on|expand-all)' || true
  }
  open=(); expand=(); all=(); untick=(); ball=(); buntick=()
  base=${BASE_GUI_TESTS:-}
  for _ in 1 2 3; do
    line=$(gui build/win/app/gui_tests.exe '*BenchmarkOpenAndExpandLargeTree')
    echo "$line"
    open+=("$(sed -n 's/.*entries: \([0-9]*\) ms.*/\1/p' <<<"$line")")
    expand+=("$(sed -n 's/.*folder: \([0-9]*\) ms.*/\1/p' <<<"$line")")
    line=$(gui build/win/app/gui_tests.exe '*BenchmarkExpandAllAndUntickLargeTree')
    echo "$line"
    all+=("$(sed -n 's/.*entries: \([0-9]*\) ms.*/\1/p' <<<"$line")")
    untick+=("$(sed -n 's/.*folder: \([0-9]*\) ms.*/\1/p' <<<"$line")")
    if [ -n "$base" ]; then
      line=$(gui "$base" '*BenchmarkExpandAllAndUntickLargeTree')
      echo "earlier build: $line"
      ball+=("$(sed -n 's/.*entries: \([0-9]*\) ms.*/\1/p' <<<"$line")")
      buntick+=("$(sed -n 's/.*folder: \([0-9]*\) ms.*/\1/p' <<<"$line")")
    fi
  done
  echo "File Tree window: open $(m "${open[@]}") ms, expand $(m "${expand[@]}") ms (medians of 3; target under 500 ms each)"
  a=$(m "${all[@]}"); u=$(m "${untick[@]}")
  echo "  expand-all of 100,000 entries ${a} ms, untick of the expanded top folder ${u} ms (medians of 3; target under 2000 ms each)"
  if [ -n "$base" ]; then
    ba=$(m "${ball[@]}"); bu=$(m "${buntick[@]}")
    echo "  earlier build: expand-all ${ba} ms, untick ${bu} ms; ours against it $(ratio "$a" "$ba"), $(ratio "$u" "$bu")"
  fi
fi
