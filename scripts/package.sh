#!/usr/bin/env bash
# Makes the release packages in build/packages/, with the version of the top CMakeLists.txt:
#   deb  ferrywick-cli_<version>_<arch>.deb   the native ferrywick-cli, its man page and bash
#                                             completion (release build in build/rel)
#   zip  ferrywick-<version>-win64.zip        Ferrywick.exe, ferrywick-cli.exe, README.txt
#                                             (Windows build in build/win)
# Builds only the programs it packs; installs what it needs first.
# Usage: scripts/package.sh [deb|zip]...   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
out=$root/build/packages

want=("$@")
[ ${#want[@]} -eq 0 ] && want=(deb zip)
groups=()
for w in "${want[@]}"; do
  case "$w" in
    deb) groups+=(native package) ;;
    zip) groups+=(windows) ;;
    *) echo "package: unknown package '$w' (deb or zip)" >&2; exit 64 ;;
  esac
done
scripts/install-deps.sh "${groups[@]}"
mkdir -p "$out"

# cpack DIR GENERATOR: packs what the build folder installs, into $out.
pack() {
  (cd "$1" && cpack -G "$2" -B "$out" >"$out/cpack-$2.log" 2>&1) ||
    { cat "$out/cpack-$2.log" >&2; return 1; }
  rm -rf "$out/_CPack_Packages" "$out/cpack-$2.log"
}

for w in "${want[@]}"; do
  case "$w" in
    deb)
      cmake -S . -B build/rel -DCMAKE_BUILD_TYPE=Release -DFW_SANITIZE=OFF >/dev/null
      cmake --build build/rel -j"$jobs" --target ferrywick-cli >/dev/null
      pack build/rel DEB
      ;;
    zip)
      cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
      cmake --build build/win -j"$jobs" --target Ferrywick ferrywick-cli >/dev/null
      pack build/win ZIP
      ;;
  esac
done
ls -l "$out"
