#!/usr/bin/env bash
# Sourced by the test scripts: a throwaway Wine prefix for one test run, with a
# persistent wineserver so that each Windows test program starts quickly.
# Call wine_session_start before the first Windows program and wine_session_stop at
# the end (test.sh installs a trap for it).

# With the 32-bit loader installed, plain `wine` starts every program through it, so
# 64-bit programs are started with the 64-bit loader directly.
WINE64_LOADER=/usr/lib/wine/wine64

# True when this machine can run 32-bit x86 Linux programs, which 32-bit Wine needs
# (some virtual machines are built without 32-bit support).
can_run_32bit() {
  [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

wine_session_start() {
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  WINEPREFIX="$(mktemp -d /tmp/tallowmere-wine.XXXXXX)"
  export WINEPREFIX
  # The console tests need no display; with none set, dialogs fail fast instead of
  # waiting for a click.
  unset DISPLAY
  "$WINE64_LOADER" wineboot -i >/dev/null 2>&1 || true
  wineserver -p >/dev/null 2>&1 || true
  # Without a window manager Wine waits whenever it hides a window.
  "$WINE64_LOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    >/dev/null 2>&1 || true
}

wine_session_stop() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
}
