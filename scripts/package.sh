#!/usr/bin/env bash
# Writes dist/KM4R-<version>-windows.zip from the win32 and win64 preset
# builds, the ones scripts/test.sh tested (built here first when missing):
#   x86/KM4R.dll   for 32-bit hosts      x64/KM4R.dll   for 64-bit hosts
#   x86/pendant-bench.exe, x64/pendant-bench.exe (the bench, beside its DLL)
#   USER_GUIDE.html (made from docs/USER_GUIDE.md by packaging/md2html.cpp)
#   INSTALL.txt  LICENSE  CHANGELOG.md  SHA256SUMS
# and, where LinuxCNC's development files are installed, the LinuxCNC
# component's dist/km4r-pendant_<version>_amd64.deb (scripts/package-deb.sh).
# The DLLs in the zip are stripped copies; the builds keep theirs, and the
# debug information goes beside them (build/win32/plugin/KM4R.dll.debug,
# build/win64/...), linked from each copy by name. The zip is checked, and
# every command its user guide shows is run from it under Wine
# (tests/package/guide_commands.sh), before the script reports success.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh package

declare -A preset=([x86]=win32 [x64]=win64)
declare -A triple=([x86]=i686-w64-mingw32 [x64]=x86_64-w64-mingw32)

for arch in x86 x64; do
  cmake --preset "${preset[$arch]}" >/dev/null
  cmake --build --preset "${preset[$arch]}" -j2 --target km4r_plugin pendant-bench
done
# The user at the dialog, for the guide's commands below.
cmake --build --preset win64 -j2 --target press_ok_win32

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win64/CMakeCache.txt)
if [[ -z "$version" ]]; then
  echo "package.sh: no project version in build/win64/CMakeCache.txt" >&2
  exit 1
fi

stage=build/package/KM4R-$version
rm -rf "$stage"
mkdir -p "$stage"
for arch in x86 x64; do
  dll=build/${preset[$arch]}/plugin/KM4R.dll
  # The debug link names the file only; a debugger looks for it beside the DLL.
  "${triple[$arch]}-objcopy" --only-keep-debug "$dll" "$dll.debug"
  mkdir -p "$stage/$arch"
  "${triple[$arch]}-objcopy" --strip-all --add-gnu-debuglink="$dll.debug" "$dll" "$stage/$arch/KM4R.dll"
  "${triple[$arch]}-objcopy" --strip-all "build/${preset[$arch]}/bench/pendant-bench.exe" \
    "$stage/$arch/pendant-bench.exe"
done
# The guide as one HTML page, by a small converter of our own.
c++ -std=c++17 -O1 -o build/package/md2html packaging/md2html.cpp
build/package/md2html "KM4R pendant plug-in $version: user guide" <docs/USER_GUIDE.md >"$stage/USER_GUIDE.html"
# Windows text files: CRLF line ends.
sed "s/@VERSION@/$version/g; s/\$/\r/" packaging/INSTALL.txt >"$stage/INSTALL.txt"
cp LICENSE CHANGELOG.md "$stage/"
files=(x86/KM4R.dll x64/KM4R.dll x86/pendant-bench.exe x64/pendant-bench.exe USER_GUIDE.html
  INSTALL.txt LICENSE CHANGELOG.md)
(cd "$stage" && sha256sum "${files[@]}" >SHA256SUMS)

mkdir -p dist
zip=$PWD/dist/KM4R-$version-windows.zip
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip x86 x64 USER_GUIDE.html INSTALL.txt LICENSE CHANGELOG.md SHA256SUMS)

cmake -DZIP="$zip" -DVERSION="$version" -DWORK="$PWD/build/package/check" -P tests/package/check_package.cmake
# Every command the guide shows, run from the unpacked zip as a Windows user
# would (the x64 bench; this machine's Wine may lack the 32-bit side).
tests/package/guide_commands.sh build/package/check build/win64/tests/package/press_ok_win32.exe "$version"
echo "wrote $zip"
if [[ -f /usr/include/linuxcnc/hal.h ]]; then scripts/package-deb.sh; else echo "no .deb: linuxcnc-uspace-dev is not installed"; fi
