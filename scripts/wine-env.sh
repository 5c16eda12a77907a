# Sourced by the test and run scripts: a headless Wine with a Japanese locale
# (ANSI code page 932), a virtual desktop on its own Xvfb, and a wineserver
# kept alive between the many short test processes.
#   wine_env_start PREFIX_DIR   then use wine; wine_env_stop at the end.

wine_env_start() {
  local prefix=$1
  export WINEPREFIX=$prefix
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree=;mshtml="
  export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
  export WINEARCH=win64

  if [ -z "${VOKRAM_KEEP_DISPLAY:-}" ] || [ -z "${DISPLAY:-}" ]; then
    local fdfile
    fdfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
    VOKRAM_XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
      [ -s "$fdfile" ] && break
      sleep 0.1
    done
    export DISPLAY=":$(head -n1 "$fdfile")"
    rm -f "$fdfile"
  fi

  if [ ! -f "$WINEPREFIX/.vokram-ready" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    # A virtual desktop gives windows a title bar and quick closes without a
    # window manager.
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    # Windows does not hide names that begin with "."; neither should the tests.
    wine reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.vokram-ready"
  fi
  wineserver -p
  wine cmd /c exit >/dev/null 2>&1 || true
}

wine_env_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${VOKRAM_XVFB_PID:-}" ]; then
    kill "$VOKRAM_XVFB_PID" 2>/dev/null || true
    wait "$VOKRAM_XVFB_PID" 2>/dev/null || true
    unset VOKRAM_XVFB_PID
  fi
}
