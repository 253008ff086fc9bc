#!/usr/bin/env bash
# Builds ferrywick-cli and shows its main job on two generated sample trees: the round trip
# between two machines that share no connection.
#   machine B: save the state of its folder
#   machine A: compare its folder against that state, save the difference in 1 MiB volumes
#   machine B: check the difference, sync it into the folder; B now equals A
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh native >/dev/null
cmake -S . -B build/rel -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/rel -j"$(nproc)" --target ferrywick-cli >/dev/null
cli=$(pwd)/build/rel/cli/ferrywick-cli
demo=${FW_DEMO_DIR:-build/demo}
mkdir -p "$demo"
demo=$(cd "$demo" && pwd)
scripts/make-sample.sh "$demo"
rm -rf "$demo/A" "$demo/B" "$demo"/carry
mv "$demo/source" "$demo/A"; mv "$demo/target" "$demo/B"; mkdir "$demo/carry"

show() { echo; echo "\$ ferrywick-cli $*"; "$cli" "$@" || [ $? -eq 1 ]; }

echo "Sample folders: $demo/A (machine A) and $demo/B (machine B)."
show compare --mirror "$demo/A" "$demo/B"
show save-state -o "$demo/carry/b.fws" "$demo/B"
show roots "$demo/carry/b.fws"
show save-diff --mirror --split 1 -o "$demo/carry/a.fwd" "$demo/A" "$demo/carry/b.fws"
echo; ls -l "$demo/carry"
show verify "$demo/carry/a.fwd"
show sync --mirror "$demo/carry/a.fwd" "$demo/B"
show compare --mirror "$demo/A" "$demo/B"
echo
if diff -r -x Thumbs.db "$demo/A" "$demo/B" >/dev/null; then
  echo "B now equals A (Thumbs.db stays behind: the default ignore list leaves it out)."
else
  echo "B differs from A:"; diff -r -q "$demo/A" "$demo/B" || true
  exit 1
fi

# With a display, the Windows program too, with the sample project on its command line.
if [ -n "${DISPLAY:-}" ]; then
  scripts/install-deps.sh windows >/dev/null
  cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE="$(pwd)/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/win -j"$(nproc)" --target Ferrywick ferrywick-cli >/dev/null
  z() { printf 'Z:%s' "${1//\//\\}"; }
  scripts/make-sample.sh "$demo" >/dev/null
  scripts/wine-run.sh build/win/cli/ferrywick-cli.exe save-project -o "$(z "$demo/sample.fwp")" \
    --source "$(z "$demo/source")" --target "$(z "$demo/target")" >/dev/null
  echo
  echo "Starting the Windows program under Wine with $demo/sample.fwp (close it to finish)."
  scripts/wine-run.sh build/win/app/Ferrywick.exe "$(z "$demo/sample.fwp")"
fi
