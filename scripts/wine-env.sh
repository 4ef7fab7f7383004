# shellcheck shell=bash
# Sourced by the Wine scripts: the environment every Wine process of the
# project runs with, and helpers for the X display and a prefix's wineserver.
# Nothing here starts a process until a helper is called.

# win32, or win64 where the kernel refuses 32-bit programs: then the layers
# run the x86_64 builds under wine64, through the wrappers in scripts/wine64.
WINEARCH="$("$(dirname "${BASH_SOURCE[0]}")/wine-arch")"
export WINEARCH
if [ "$WINEARCH" = win64 ]; then
  case ":$PATH:" in
    *":$(cd "$(dirname "${BASH_SOURCE[0]}")/wine64" && pwd):"*) ;;
    *) PATH="$(cd "$(dirname "${BASH_SOURCE[0]}")/wine64" && pwd):$PATH" ;;
  esac
  export PATH
fi
export WINEDEBUG="${SORVANE_WINEDEBUG:--all}"
# No Mono or Gecko installer prompts in a fresh prefix, and no plug-and-play
# drivers: nothing here uses a device, and their host process, winedevice.exe,
# crashed now and then at the start of a server session. The same value in
# every Wine process of the project (bench/run_bench.py, tests/e2e/winebox.py):
# a prefix set up with the drivers and run without them, or the reverse,
# installs or removes devices in the middle of a scan.
export WINEDLLOVERRIDES="mscoree,mshtml=;winebus.sys,winehid.sys,wineusb.sys,hidclass.sys="

# Pid of the Xvfb that wine_display_start started, empty when none.
SORVANE_XVFB_PID=

# Succeeds when $DISPLAY names an X server that answers.
wine_display_ok() {
  [ -n "${DISPLAY:-}" ] || return 1
  if command -v xdpyinfo >/dev/null 2>&1; then
    xdpyinfo >/dev/null 2>&1
  else
    local n="${DISPLAY#*:}"
    n="${n%%.*}"
    [ -S "/tmp/.X11-unix/X$n" ]
  fi
}

# Makes sure DISPLAY works: keeps a working one, otherwise starts a private
# Xvfb on a display number it picks itself. Call before the first wine
# process of a prefix.
wine_display_start() {
  wine_display_ok && return 0
  command -v Xvfb >/dev/null 2>&1 || {
    echo "wine-env: no X display and no Xvfb (run scripts/install-deps)" >&2
    return 1
  }
  local fdfile
  fdfile="$(mktemp)"
  Xvfb -displayfd 9 -nolisten tcp -screen 0 1280x1024x24 9>"$fdfile" >/dev/null 2>&1 &
  SORVANE_XVFB_PID=$!
  for _ in $(seq 1 100); do
    if [ -s "$fdfile" ] && grep -q '^[0-9]' "$fdfile"; then break; fi
    if ! kill -0 "$SORVANE_XVFB_PID" 2>/dev/null; then break; fi
    sleep 0.05
  done
  local n
  n="$(head -n1 "$fdfile" | tr -dc 0-9)"
  rm -f "$fdfile"
  if [ -z "$n" ]; then
    echo "wine-env: Xvfb did not start" >&2
    wine_display_stop
    return 1
  fi
  export DISPLAY=":$n"
}

# Stops the Xvfb that wine_display_start started, if any.
wine_display_stop() {
  if [ -n "$SORVANE_XVFB_PID" ]; then
    kill "$SORVANE_XVFB_PID" 2>/dev/null || true
    wait "$SORVANE_XVFB_PID" 2>/dev/null || true
    SORVANE_XVFB_PID=
  fi
}

# Starts a persistent wineserver for the prefix PREFIX, so that each exe
# starts fast. Answers 2 when one already runs, which is fine.
wine_server_start() {
  WINEPREFIX="$1" wineserver -p || true
}

# Stops the wineserver of PREFIX (and every process of that prefix) and
# waits until it is gone, so its registry files are written. A process that
# was starting while the server went down starts a server of its own: that
# one is stopped too, until `wineserver -k` finds none (it exits 1 then).
wine_server_stop() {
  [ -d "$1" ] || return 0
  local _
  for _ in 1 2 3 4 5; do
    if WINEPREFIX="$1" wineserver -k 2>/dev/null; then
      WINEPREFIX="$1" wineserver -w 2>/dev/null || true
    else
      return 0
    fi
  done
}

# Runs wine with WINEPREFIX=PREFIX: wine_in PREFIX program args...
wine_in() {
  local prefix="$1"
  shift
  WINEPREFIX="$prefix" wine "$@"
}
