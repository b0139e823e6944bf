#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need.
#   scripts/install-deps.sh linux     what the Linux build, the bench and its tests need
#   scripts/install-deps.sh all       plus the Windows cross toolchain, Wine (64- and
#                                     32-bit, so both modules run) and Xvfb
set -euo pipefail

linux_pkgs=(build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev googletest
            libbenchmark-dev libpugixml-dev libudev-dev tmux clang libclang-rt-14-dev)
windows_pkgs=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools wine wine64 wine32:i386
              xvfb xauth imagemagick)

pkgs=("${linux_pkgs[@]}")
if [[ "${1:-linux}" == all ]]; then pkgs+=("${windows_pkgs[@]}"); fi

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
