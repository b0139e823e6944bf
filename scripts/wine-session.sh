# Sourced by the scripts that run Windows programs: a virtual X display and a
# Wine prefix of their own, both removed by wine_session_end.
#
#   wine_session_begin WORKDIR [ARCH...]   starts Xvfb, exports DISPLAY and
#                                          WINEPREFIX, ready for the programs of
#                                          each ARCH (x86_64, i686; default both)
#   wine_session_end                       stops the prefix's wineserver and Xvfb
#   wine_session_begin_temporary [ARCH...] the first in a new temporary folder;
#                                          the session ends and the folder goes
#                                          when the calling script exits
#
# It also sets KM4R_WINE64 and KM4R_WINE32, the commands that run a Windows
# program of each architecture (scripts/wine-run), and KM4R_WINE32_HOW, how
# the 32-bit programs run on this kernel ("native", "emulated" or "none: WHY").
km4r_scripts="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
KM4R_WINE64="$km4r_scripts/wine-run x86_64"
KM4R_WINE32="$km4r_scripts/wine-run i686"
KM4R_WINE32_HOW=$("$km4r_scripts/wine-run" --how i686)
export KM4R_WINE64 KM4R_WINE32 KM4R_WINE32_HOW

wine_session_xvfb_pid=""

wine_session_begin() {
  local work=$1 display="" n i686=yes
  shift
  if (($# > 0)); then
    i686=no
    case " $* " in *" i686 "*) i686=yes ;; esac
  fi
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
  $KM4R_WINE64 wineboot -i >/dev/null 2>&1
  wineserver -w
  if [[ $i686 == yes && $KM4R_WINE32_HOW == emulated ]]; then
    # wineboot could not start the 32-bit side: give the prefix its 32-bit
    # system files and registry entries (COM classes such as MSXML) by hand.
    cp -n /usr/lib/i386-linux-gnu/wine/i386-windows/* "$WINEPREFIX/drive_c/windows/syswow64/"
    $KM4R_WINE32 rundll32 setupapi.dll,InstallHinfSection \
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
  wine_session_begin "$wine_session_work" "$@"
}
