#!/usr/bin/env bash
# Writes dist/km4r-pendant_<version>_amd64.deb, the LinuxCNC component, from
# the release preset build (called by scripts/package.sh):
#   /usr/bin/km4r-pendant -> /usr/lib/km4r-pendant/km4r-pendant
#   /usr/lib/km4r-pendant/KM4R.so, virtual/KM4R.so   the module, device and virtual pendant
#   /usr/share/man/man1/km4r-pendant.1.gz
#   /lib/udev/rules.d/60-km4r-pendant.rules
#   /usr/share/doc/km4r-pendant/examples/            HAL and INI files for an XYZ machine
#   /usr/share/doc/km4r-pendant/examples/sim/        the simulated mill with the virtual pendant
# Checked here: the package's contents. scripts/linuxcnc-test.sh --installed
# checks an installed package against LinuxCNC.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ ! -f /usr/include/linuxcnc/hal.h ]]; then
  echo "package-deb.sh: linuxcnc-uspace-dev is not installed: no .deb" >&2
  exit 1
fi
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target km4r-pendant
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
built=build/release/hal

root=build/package/deb/km4r-pendant
rm -rf "$root"
lib=$root/usr/lib/km4r-pendant
doc=$root/usr/share/doc/km4r-pendant
install -d "$lib/virtual" "$root/usr/bin" "$root/usr/share/man/man1" "$root/lib/udev/rules.d" \
  "$doc/examples/sim" "$root/DEBIAN"
install -m 755 -s "$built/km4r-pendant" "$lib/"
install -m 644 -s "$built/KM4R.so" "$lib/"
install -m 644 -s "$built/virtual/KM4R.so" "$lib/virtual/"
ln -s ../lib/km4r-pendant/km4r-pendant "$root/usr/bin/km4r-pendant"
gzip -9n <hal/km4r-pendant.1 >"$root/usr/share/man/man1/km4r-pendant.1.gz"
install -m 644 bench/udev/60-km4r-pendant.rules "$root/lib/udev/rules.d/"
install -m 644 hal/examples/* "$doc/examples/"
install -m 644 hal/sim/* hal/examples/km4r-pendant-wiring.hal "$doc/examples/sim/"
install -m 644 LICENSE "$doc/copyright"
gzip -9n <CHANGELOG.md >"$doc/changelog.gz"
chmod 644 "$root/usr/share/man/man1/km4r-pendant.1.gz" "$doc/changelog.gz"

size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
cat >"$root/DEBIAN/control" <<CONTROL
Package: km4r-pendant
Version: $version
Architecture: amd64
Maintainer: KM4R pendant maintainers <km4r-pendant@users.noreply.github.com>
Installed-Size: $size
Depends: linuxcnc-uspace, libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1, libudev1
Section: misc
Priority: optional
Description: KM4R USB pendant for LinuxCNC (HAL userspace component)
 km4r-pendant connects the KM4R handwheel pendant to LinuxCNC: step and
 continuous jogging, feed and spindle override, axis zeroing, E-stop and
 the pendant's display, through HAL pins. Includes HAL and INI examples and
 a simulated mill with a virtual pendant.
CONTROL
mkdir -p dist
deb=dist/km4r-pendant_${version}_amd64.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null

# The contents: every file named above, and no other.
expected="./lib/udev/rules.d/60-km4r-pendant.rules
./usr/bin/km4r-pendant
./usr/lib/km4r-pendant/KM4R.so
./usr/lib/km4r-pendant/km4r-pendant
./usr/lib/km4r-pendant/virtual/KM4R.so
./usr/share/doc/km4r-pendant/changelog.gz
./usr/share/doc/km4r-pendant/copyright
./usr/share/doc/km4r-pendant/examples/km4r-pendant-wiring.hal
./usr/share/doc/km4r-pendant/examples/km4r-pendant.hal
./usr/share/doc/km4r-pendant/examples/km4r-pendant.ini
./usr/share/doc/km4r-pendant/examples/sim/demo.scn
./usr/share/doc/km4r-pendant/examples/sim/km4r-pendant-wiring.hal
./usr/share/doc/km4r-pendant/examples/sim/km4r-sim.hal
./usr/share/doc/km4r-pendant/examples/sim/km4r-sim.ini
./usr/share/doc/km4r-pendant/examples/sim/sim_mm.tbl
./usr/share/man/man1/km4r-pendant.1.gz"
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
if [[ $actual != "$expected" ]]; then
  echo "package-deb.sh: $deb holds other files than expected:" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi
[[ $(dpkg-deb -f "$deb" Depends) == *linuxcnc-uspace* ]]
echo "wrote $deb"
