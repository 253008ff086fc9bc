#!/usr/bin/env bash
# Builds ferrywick-cli and shows its main job on two generated sample trees.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh native >/dev/null
cmake -S . -B build/rel -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/rel -j"$(nproc)" --target ferrywick-cli >/dev/null
cli=build/rel/cli/ferrywick-cli
demo=${FW_DEMO_DIR:-build/demo}
mkdir -p "$demo"
scripts/make-sample.sh "$demo"

echo "== Sample trees in $demo/source and $demo/target"
echo
echo "== ferrywick-cli compare $demo/source $demo/target"
"$cli" compare "$demo/source" "$demo/target" || [ $? -eq 1 ]
