#!/usr/bin/env bash
# The Windows release as a user gets it: packs the zip from a Windows build folder, unpacks it
# into an empty folder, and checks that
#   - each program imports only DLLs that every Windows 10 and 11 has (nothing the zip would
#     have to carry, such as zlib1.dll or a compiler's runtime);
#   - ferrywick-cli.exe and Ferrywick.exe start from there under Wine.
# The import check is what guards against a library Windows lacks: Wine brings its own
# zlib1.dll, so a program that needs one starts under Wine all the same, and it cannot be
# turned off for the test (zlib1=d), since Wine's own user32.dll imports it.
# Usage: release_test.sh CPACK OBJDUMP BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
if [ $# -ne 5 ]; then
  echo "usage: $0 CPACK OBJDUMP BUILD_DIR SOURCE_DIR VERSION" >&2
  exit 2
fi
cpack=$1 objdump=$2 build=$(cd "$3" && pwd) source=$(cd "$4" && pwd) version=$5

work=$(mktemp -d "${TMPDIR:-/tmp}/fw-release.XXXXXX")
# A Wine prefix of its own (made once per build folder), and so a Wine server of its own: the
# GUI tests running beside this one have a main window of the same class in the build's
# prefix, which the window search below must not find, nor send File > Exit to.
export WINEPREFIX=$build/release-prefix
run=$source/scripts/wine-run.sh
trap '"$run" --server stop "$build" >/dev/null 2>&1; rm -rf "$work"' EXIT
fail() { echo "release test: $*" >&2; exit 1; }

# The zip, made as scripts/package.sh makes it.
(cd "$build" && "$cpack" -G ZIP -B "$work/pack" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; fail "cpack could not make the zip"; }
zip=$work/pack/ferrywick-$version-win64.zip
[ -f "$zip" ] || fail "no $zip"
mkdir "$work/unpacked"
python3 -m zipfile -e "$zip" "$work/unpacked"
for f in Ferrywick.exe ferrywick-cli.exe README.txt; do
  [ -f "$work/unpacked/$f" ] || fail "the zip lacks $f"
done

# What a bare Windows 10 or 11 has in its system folder (names compared without regard to case).
allowed=" kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll comctl32.dll comdlg32.dll
  ole32.dll oleaut32.dll msvcrt.dll shlwapi.dll uxtheme.dll version.dll ws2_32.dll
  bcrypt.dll crypt32.dll rpcrt4.dll secur32.dll userenv.dll winmm.dll imm32.dll"
allowed=" $(echo $allowed) "  # one space between names and around them
for exe in Ferrywick.exe ferrywick-cli.exe; do
  imports=$("$objdump" -p "$work/unpacked/$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' |
            tr -d '\r' | tr 'A-Z' 'a-z')
  [ -n "$imports" ] || fail "$exe: no imports read (is it a Windows program?)"
  for dll in $imports; do
    case "$allowed" in
      *" $dll "*) ;;
      *) fail "$exe imports $dll, which Windows does not have and the zip does not hold" ;;
    esac
  done
  echo "$exe imports:" $imports
done

# Started from the unpacked folder.
out=$("$run" "$work/unpacked/ferrywick-cli.exe" --version 2>&1) ||
  fail "ferrywick-cli.exe --version did not start: $out"
case "$out" in
  *"$version"*) echo "ferrywick-cli.exe --version: $(echo "$out" | head -1 | tr -d '\r')" ;;
  *) fail "ferrywick-cli.exe --version printed no version: $out" ;;
esac

# The program on a virtual X server: its main window appears and closes on File > Exit.
if command -v Xvfb >/dev/null; then
  drive=$build/app/fw-gui-drive.exe
  exe=Z:$(echo "$work/unpacked/Ferrywick.exe" | sed 's|/|\\|g')
  cat >"$work/gui.sh" <<EOF
set -e
"$run" "$drive" start 800x560 '$exe'
"$run" "$drive" wait main 60 || { echo "no main window"; exit 1; }
"$run" "$drive" command main 40008
"$run" "$drive" gone main 30 || { echo "the main window did not close"; exit 1; }
EOF
  # Once more on a fresh Wine server should the first start not show its window: Wine under
  # load now and then loses a start on a new desktop; a program that cannot start fails both.
  "$source/scripts/with-xvfb.sh" bash "$work/gui.sh" ||
    { "$run" --server stop "$build" >/dev/null 2>&1
      "$source/scripts/with-xvfb.sh" bash "$work/gui.sh"; } || fail "Ferrywick.exe did not start"
  echo "Ferrywick.exe: the main window opened and closed"
else
  echo "Ferrywick.exe: not started (no Xvfb)"
fi
echo "release test: passed"
