#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12, once; later calls do nothing.
# Usage: scripts/install-deps.sh [native|windows|gui|fuzz|bench|package|all]...  (default: all)
set -euo pipefail

want=("$@")
[ ${#want[@]} -eq 0 ] && want=(all)

pkgs=()
add() { pkgs+=("$@"); }
for w in "${want[@]}"; do
  case "$w" in
    # man: the install test; ccache: scripts/test.sh compiles again only what changed
    native) add build-essential cmake zlib1g-dev libgtest-dev python3 man-db ccache ;;
    windows) add cmake g++-mingw-w64-x86-64-posix libz-mingw-w64-dev mingw-w64-tools googletest wine wine64 ;;
    gui) add xvfb xauth imagemagick ;;
    fuzz) add clang-14 libclang-rt-14-dev zlib1g-dev ;;
    bench) add libbenchmark-dev rsync findutils gzip tar pigz ;;
    # cpack's Debian package: dpkg-shlibdeps (dpkg-dev) finds its library dependencies with file.
    package) add build-essential cmake dpkg-dev file ;;
    all) add build-essential cmake zlib1g-dev libgtest-dev googletest g++-mingw-w64-x86-64-posix \
             libz-mingw-w64-dev mingw-w64-tools wine wine64 xvfb xauth imagemagick clang-14 \
             libclang-rt-14-dev libbenchmark-dev rsync pigz python3 man-db dpkg-dev file ccache ;;
    *) echo "install-deps: unknown group '$w'" >&2; exit 64 ;;
  esac
done

# One dpkg-query for all of them (no apt at all when everything is there): it prints the
# installed ones; the rest are missing.
mapfile -t installed < <(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' "${pkgs[@]}" 2>/dev/null |
                         awk '$1 == "ii" {print $2}')
missing=()
for p in "${pkgs[@]}"; do
  found=0
  for i in "${installed[@]}"; do
    if [ "${i%%:*}" = "$p" ]; then found=1; break; fi
  done
  [ $found -eq 1 ] || missing+=("$p")
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
