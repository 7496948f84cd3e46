# Sourced by the test scripts: a throwaway Wine prefix for one test run, with a
# persistent wineserver so that each Windows test program starts quickly.
# Call wine_session_start before the first Windows program and wine_session_stop at
# the end (test.sh installs a trap for it).

wine_session_start() {
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEPREFIX="$(mktemp -d /tmp/tallowmere-wine.XXXXXX)"
  # The console tests need no display; with none set, dialogs fail fast instead of
  # waiting for a click.
  unset DISPLAY
  wineboot -i >/dev/null 2>&1 || true
  wineserver -p >/dev/null 2>&1 || true
  # Without a window manager Wine waits whenever it hides a window.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
}

wine_session_stop() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
}
