#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12, once; later calls do nothing.
# Usage: scripts/install-deps.sh [native|windows|gui|fuzz|bench|all]...  (default: all)
set -euo pipefail

want=("$@")
[ ${#want[@]} -eq 0 ] && want=(all)

pkgs=()
add() { pkgs+=("$@"); }
for w in "${want[@]}"; do
  case "$w" in
    native) add build-essential cmake zlib1g-dev libgtest-dev python3 ;;
    windows) add cmake g++-mingw-w64-x86-64-posix libz-mingw-w64-dev mingw-w64-tools googletest wine wine64 ;;
    gui) add xvfb xauth imagemagick ;;
    fuzz) add clang-14 libclang-rt-14-dev zlib1g-dev ;;
    bench) add libbenchmark-dev rsync findutils gzip tar ;;
    all) add build-essential cmake zlib1g-dev libgtest-dev googletest g++-mingw-w64-x86-64-posix \
             libz-mingw-w64-dev mingw-w64-tools wine wine64 xvfb xauth imagemagick clang-14 \
             libclang-rt-14-dev libbenchmark-dev rsync python3 ;;
    *) echo "install-deps: unknown group '$w'" >&2; exit 64 ;;
  esac
done

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
