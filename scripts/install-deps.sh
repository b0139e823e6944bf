#!/usr/bin/env bash
# Installs the Debian 12 packages a task needs.
#   scripts/install-deps.sh demo      building the plug-in and the bench (what scripts/demo.sh needs)
#   scripts/install-deps.sh linux     plus the test tools (GoogleTest, Google Benchmark, clang, tmux)
#   scripts/install-deps.sh package   the Windows cross toolchain for scripts/package.sh
#   scripts/install-deps.sh linuxcnc  LinuxCNC, for km4r-pendant and scripts/linuxcnc-test.sh
#   scripts/install-deps.sh all       everything scripts/test.sh needs: linux, package, Wine, Xvfb, LinuxCNC
#
# A package index that fails to download part-way (a mirror mid-sync) does not
# stop it: the update is tried twice and then what was read is used. A package
# that still cannot be installed stops it only when nothing can be done
# without it; for the others it says which, what is lost and what to do, and
# goes on (the test scripts then say which suite they do not run).
set -euo pipefail

build_pkgs=(build-essential cmake ninja-build pkg-config libudev-dev)
test_pkgs=(libgtest-dev libgmock-dev googletest libbenchmark-dev tmux clang libclang-rt-14-dev)
cross_pkgs=(build-essential cmake ninja-build g++-mingw-w64-x86-64 g++-mingw-w64-i686
            mingw-w64-tools googletest)
# wine32 too, so the 32-bit module runs as well as the 64-bit one; qemu-user
# runs it where the kernel cannot run 32-bit programs.
windows_test_pkgs=(wine wine64 wine32:i386 qemu-user xvfb xauth imagemagick)
linuxcnc_pkgs=(linuxcnc-uspace linuxcnc-uspace-dev)

# What a package that cannot be installed costs, for those the run can do
# without. Any package not named here is required.
optional_cost() {
  case $1 in
    wine32:i386) echo "the i686 (32-bit host) suite under Wine is not run; scripts/windows-tests.sh says so and checks only the i686 build and its PE tables" ;;
    qemu-user) echo "where the kernel cannot run 32-bit programs, the i686 suite is not run under emulation" ;;
    imagemagick) echo "the dialog screenshot (scripts/dialog-screenshot.sh) cannot be converted to PNG" ;;
    linuxcnc-uspace | linuxcnc-uspace-dev) echo "km4r-pendant (the LinuxCNC component) and its .deb are not built and scripts/linuxcnc-test.sh is not run" ;;
    *) return 1 ;;
  esac
}

case "${1:-linux}" in
  demo) pkgs=("${build_pkgs[@]}") ;;
  linux) pkgs=("${build_pkgs[@]}" "${test_pkgs[@]}") ;;
  package) pkgs=("${cross_pkgs[@]}" "${linuxcnc_pkgs[@]}") ;;
  linuxcnc) pkgs=("${build_pkgs[@]}" "${linuxcnc_pkgs[@]}") ;;
  all) pkgs=("${build_pkgs[@]}" "${test_pkgs[@]}" "${cross_pkgs[@]}" "${windows_test_pkgs[@]}"
             "${linuxcnc_pkgs[@]}") ;;
  *)
    echo "usage: $0 demo|linux|package|linuxcnc|all" >&2
    exit 2
    ;;
esac

missing=()
for p in "${pkgs[@]}"; do
  [[ " ${missing[*]} " == *" $p "* ]] && continue
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
if ! "${sudo[@]}" apt-get update -qq; then
  sleep "${KM4R_APT_RETRY_SECONDS:-10}"
  if ! "${sudo[@]}" apt-get update -qq; then
    echo "install-deps: the package index could not be read in full (twice); going on with what was read" >&2
  fi
fi

install() {
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "$@"
}
if install "${missing[@]}"; then exit 0; fi

# One at a time, so that one package the index cannot satisfy (an i386
# package lagging the amd64 security versions) does not keep the rest out.
failed_required=()
for p in "${missing[@]}"; do
  install "$p" && continue
  if cost=$(optional_cost "$p"); then
    echo "install-deps: NOT INSTALLED: $p. Without it $cost." \
      "To get it, run 'apt-get update' later (a mirror may be mid-sync) and then 'apt-get install $p'." >&2
  else
    failed_required+=("$p")
  fi
done
if ((${#failed_required[@]})); then
  echo "install-deps: cannot go on without: ${failed_required[*]}." \
    "Run 'apt-get update && apt-get install ${failed_required[*]}' and read apt's reason above." >&2
  exit 1
fi
