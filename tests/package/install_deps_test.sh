#!/usr/bin/env bash
# scripts/install-deps.sh's decisions with the package commands stubbed: an
# index that fails to download, a package that cannot be installed (optional
# or required), nothing missing.
set -euo pipefail
script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/install-deps.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
# apt-get: updates fail $UPDATE_FAILS times; installs fail when they name a
# package listed in $UNINSTALLABLE. Every call is logged.
cat >"$work/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "apt-get $*" >>"$STUB_LOG"
if [[ $* == *update* ]]; then
  n=$(grep -c 'apt-get.*update' "$STUB_LOG")
  ((n > UPDATE_FAILS)) || { echo "E: File has unexpected size. Mirror sync in progress?" >&2; exit 100; }
  exit 0
fi
for p in $UNINSTALLABLE; do [[ " $* " == *" $p "* ]] && { echo "E: held broken packages" >&2; exit 100; }; done
exit 0
STUB
cat >"$work/bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
[[ $ALL_INSTALLED == 1 ]] && printf 'install ok installed'
exit 0
STUB
printf '#!/bin/sh\necho i386\n' >"$work/bin/dpkg"
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
chmod +x "$work/bin/"*

failures=0
# name | profile | all installed | update failures | uninstallable | exit | stderr must hold | log must hold
while IFS='|' read -r name profile installed fails unin want_rc want_err want_log; do
  [[ -z $name || $name == \#* ]] && continue
  trim() { local v=${1#"${1%%[![:space:]]*}"}; printf '%s' "${v%"${v##*[![:space:]]}"}"; }
  name=$(trim "$name") want_err=$(trim "$want_err") want_log=$(trim "$want_log") unin=$(trim "$unin")
  : >"$work/log"
  rc=0
  STUB_LOG="$work/log" ALL_INSTALLED=$installed UPDATE_FAILS=$fails UNINSTALLABLE=$unin \
    KM4R_APT_RETRY_SECONDS=0 PATH="$work/bin:$PATH" \
    bash "$script" "$profile" >"$work/out" 2>"$work/err" || rc=$?
  ok=1
  [[ $rc == "$want_rc" ]] || ok=0
  [[ -z $want_err ]] || grep -qF -- "$want_err" "$work/err" || ok=0
  if [[ $want_log == "-" ]]; then [[ ! -s $work/log ]] || ok=0
  elif [[ -n $want_log ]]; then grep -qF -- "$want_log" "$work/log" || ok=0; fi
  if ((ok)); then echo "ok   $name"; else
    echo "FAIL $name: exit $rc (want $want_rc)"; sed 's/^/  err: /' "$work/err"; sed 's/^/  log: /' "$work/log"
    failures=$((failures + 1))
  fi
done <<'ROWS'
nothing missing: no apt call            |all|1|0|                |0|                                                  |-
index fails once: updated again         |all|0|1|                |0|                                                  |install -y -qq --no-install-recommends build-essential
index fails twice: goes on with it      |all|0|2|                |0|could not be read in full                         |install -y -qq --no-install-recommends build-essential
wine32 cannot install: says the cost    |all|0|0|wine32:i386     |0|NOT INSTALLED: wine32:i386. Without it the i686   |install -y -qq --no-install-recommends xvfb
wine32 lost, index failing too          |all|0|9|wine32:i386     |0|NOT INSTALLED: wine32:i386                        |
a required package cannot install       |all|0|0|libudev-dev     |1|cannot go on without: libudev-dev                 |
demo asks only for the build tools      |demo|0|0|wine32:i386    |0|                                                  |install -y -qq --no-install-recommends build-essential cmake ninja-build pkg-config libudev-dev
ROWS
echo "$((7 - failures)) passed, $failures failed"
((failures == 0))
