#!/usr/bin/env bash
# Installs the Debian 12 packages a task needs.
#   scripts/install-deps.sh demo      building the plug-in and the bench (what scripts/demo.sh needs)
#   scripts/install-deps.sh linux     plus the test tools (GoogleTest, Google Benchmark, clang, tmux)
#   scripts/install-deps.sh package   the Windows cross toolchain for scripts/package.sh
#   scripts/install-deps.sh all       everything scripts/test.sh needs: linux, package, Wine, Xvfb
set -euo pipefail

build_pkgs=(build-essential cmake ninja-build pkg-config libudev-dev)
test_pkgs=(libgtest-dev libgmock-dev googletest libbenchmark-dev tmux clang libclang-rt-14-dev)
cross_pkgs=(build-essential cmake ninja-build g++-mingw-w64-x86-64 g++-mingw-w64-i686
            mingw-w64-tools googletest)
# wine32 too, so the 32-bit module runs as well as the 64-bit one; qemu-user
# runs it where the kernel cannot run 32-bit programs.
windows_test_pkgs=(wine wine64 wine32:i386 qemu-user xvfb xauth imagemagick)

case "${1:-linux}" in
  demo) pkgs=("${build_pkgs[@]}") ;;
  linux) pkgs=("${build_pkgs[@]}" "${test_pkgs[@]}") ;;
  package) pkgs=("${cross_pkgs[@]}") ;;
  all) pkgs=("${build_pkgs[@]}" "${test_pkgs[@]}" "${cross_pkgs[@]}" "${windows_test_pkgs[@]}") ;;
  *)
    echo "usage: $0 demo|linux|package|all" >&2
    exit 2
    ;;
esac

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} == 0)); then exit 0; fi

sudo=()
if [[ $(id -u) != 0 ]]; then sudo=(sudo); fi
# wine32 is an i386 package: the architecture must be known to dpkg first.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
echo "installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}"
