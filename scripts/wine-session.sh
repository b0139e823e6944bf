# Sourced by the scripts that run Windows programs: a virtual X display and a
# Wine prefix of their own, both removed by wine_session_end.
#
#   wine_session_begin WORKDIR   starts Xvfb, exports DISPLAY and WINEPREFIX
#   wine_session_end             stops the prefix's wineserver and Xvfb
#   wine_session_begin_temporary the first in a new temporary folder; the
#                                session ends and the folder goes when the
#                                calling script exits
#
# It also sets KM4R_WINE, the command that runs a Windows program, and
# KM4R_WINE32 (1 or 0): whether 32-bit programs can run here. Debian's `wine`
# starts the 32-bit loader whenever wine32 is installed, so on a kernel that
# cannot run 32-bit programs every Windows program goes through the 64-bit
# loader, and the i686 modules cannot run at all.
# KM4R_WINE32_WHY says why not. Where qemu-i386 is installed the i686 modules
# still run, emulated: KM4R_WINE32_RUN is then scripts/wine32-emulated and
# KM4R_WINE32 reads "emulated".
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  KM4R_WINE=wine
  KM4R_WINE32=1
  KM4R_WINE32_WHY=""
else
  KM4R_WINE=/usr/lib/wine/wine64
  KM4R_WINE32=0
  if [[ -x /usr/lib/wine/wine ]]; then
    KM4R_WINE32_WHY="this kernel cannot run 32-bit programs (no IA-32 emulation)"
  else
    KM4R_WINE32_WHY="wine32:i386 is not installed (scripts/install-deps.sh all)"
  fi
  export WINELOADER=$KM4R_WINE
  if [[ -x /usr/lib/wine/wine ]] && command -v qemu-i386 >/dev/null 2>&1; then
    KM4R_WINE32=emulated
    KM4R_WINE32_RUN="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine32-emulated"
  fi
fi
KM4R_WINE32_RUN=${KM4R_WINE32_RUN:-$KM4R_WINE}
export KM4R_WINE KM4R_WINE32 KM4R_WINE32_WHY KM4R_WINE32_RUN

wine_session_xvfb_pid=""

wine_session_begin() {
  local work=$1 display="" n
  for n in $(seq 90 140); do
    if [[ ! -e /tmp/.X$n-lock && ! -e /tmp/.X11-unix/X$n ]]; then
      display=$n
      break
    fi
  done
  [[ -n $display ]] || { echo "no free X display number" >&2; return 1; }
  Xvfb ":$display" -nolisten tcp -screen 0 1024x768x24 >"$work/xvfb.log" 2>&1 &
  wine_session_xvfb_pid=$!
  for _ in $(seq 100); do
    [[ -e /tmp/.X11-unix/X$display ]] && break
    kill -0 "$wine_session_xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; return 1; }
    sleep 0.1
  done
  echo "Xvfb on :$display"

  export DISPLAY=":$display" WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEARCH=win64
  # No browser or .NET engines: nothing here needs them, and they cannot be fetched.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  "$KM4R_WINE" wineboot -i >/dev/null 2>&1
  wineserver -w
  if [[ $KM4R_WINE32 == emulated ]]; then
    # wineboot could not start the 32-bit side: give the prefix its 32-bit
    # system files and registry entries (COM classes such as MSXML) by hand.
    cp -n /usr/lib/i386-linux-gnu/wine/i386-windows/* "$WINEPREFIX/drive_c/windows/syswow64/"
    "$KM4R_WINE32_RUN" rundll32 setupapi.dll,InstallHinfSection \
      DefaultInstall 128 '\\?\unix/usr/share/wine/wine.inf' >/dev/null 2>&1
    wineserver -w
  fi
  echo "Wine prefix ready"
}

wine_session_end() {
  if [[ -n ${WINEPREFIX:-} ]]; then wineserver -k >/dev/null 2>&1 || true; fi
  if [[ -n $wine_session_xvfb_pid ]]; then
    kill "$wine_session_xvfb_pid" 2>/dev/null || true
    wait "$wine_session_xvfb_pid" 2>/dev/null || true
    wine_session_xvfb_pid=""
  fi
}

wine_session_begin_temporary() {
  wine_session_work=$(mktemp -d "${TMPDIR:-/tmp}/km4r-wine.XXXXXX")
  trap 'wine_session_end; rm -rf "$wine_session_work"' EXIT
  wine_session_begin "$wine_session_work"
}
