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
    # Now and then wineboot leaves a prefix half made (no kernel32.dll), in
    # which no program starts; such a prefix is made anew, once.
    local attempt
    for attempt in 1 2; do
      rm -rf "$WINEPREFIX"
      mkdir -p "$WINEPREFIX"
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w
      [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] && break
      echo "wine-env: wineboot left $WINEPREFIX unfinished (attempt $attempt)" >&2
    done
    # A virtual desktop gives windows a title bar and quick closes without a
    # window manager.
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    # Windows does not hide names that begin with "."; neither should the tests.
    wine reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.vokram-ready"
  fi
  # A server that a wine program started quits seconds after its last
  # client, and `wineserver -p` beside it fails (status 2) and leaves it so;
  # a test process caught by a server going away ends at once with no
  # output. Replace any such server by one that stays.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if ! wineserver -p; then
    echo "wine-env: no persistent wineserver for $WINEPREFIX" >&2
    return 1
  fi
  VOKRAM_WINESERVER_PID=$(wine_env_server_pid)
  # The first program of a new server boots the prefix's services; tests
  # start only once one has run to its end.
  if [ -z "$VOKRAM_WINESERVER_PID" ] || ! wine cmd /c exit >/dev/null 2>&1; then
    echo "wine-env: Wine does not start programs in $WINEPREFIX" >&2
    return 1
  fi
}

# The pid of the wineserver of $WINEPREFIX, found by its working folder
# (server-<device>-<inode> of the prefix), or nothing.
wine_env_server_pid() {
  local id dir
  id=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
  for dir in /proc/[0-9]*; do
    case $(cat "$dir/comm" 2>/dev/null) in wineserver*) ;; *) continue ;; esac
    case $(readlink "$dir/cwd" 2>/dev/null) in
      */"$id") echo "${dir#/proc/}" && return 0 ;;
    esac
  done
}

# The pids of the explorer.exe processes of $WINEPREFIX (each runs a
# desktop), space-separated, or nothing.
wine_env_explorer_pids() {
  local dir pids=()
  for dir in /proc/[0-9]*; do
    [ "$(cat "$dir/comm" 2>/dev/null)" = explorer.exe ] || continue
    # The process may be gone by now: silence the redirection as well.
    if tr '\0' '\n' 2>/dev/null <"$dir/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      pids+=("${dir#/proc/}")
    fi
  done
  echo "${pids[*]}"
}

# Starts the desktop holder (tests/wine/DesktopHolder.cpp) and waits until it
# holds the desktop and that desktop is the only one, so that one desktop
# serves the whole run. (The first program's desktop may still be closing.)
#   wine_env_hold_desktop HOLDER_EXE
wine_env_hold_desktop() {
  local ready i
  ready=$(mktemp)
  wine "$1" </dev/null >"$ready" 2>/dev/null &
  VOKRAM_HOLDER_PID=$!
  VOKRAM_EXPLORER_PID=
  for i in $(seq 1 300); do
    if grep -q ready "$ready"; then
      VOKRAM_EXPLORER_PID=$(wine_env_explorer_pids)
      case $VOKRAM_EXPLORER_PID in '' | *' '*) ;; *) break ;; esac
    fi
    sleep 0.1
  done
  rm -f "$ready"
  case $VOKRAM_EXPLORER_PID in
    '' | *' '*)
      echo "wine-env: no single desktop held in $WINEPREFIX" \
        "(explorer.exe: ${VOKRAM_EXPLORER_PID:-none})" >&2
      return 1 ;;
  esac
}

# Fails, saying why, when the server wine_env_start left is no longer the
# one running (every test process alive at that moment was killed, and later
# ones ran against a server that quits between them), or when the desktop
# the holder kept was closed during the run.
wine_env_check() {
  local now
  now=$(wine_env_server_pid)
  if [ "$now" != "${VOKRAM_WINESERVER_PID:-}" ]; then
    echo "wine-env: the wineserver of $WINEPREFIX changed during the run" \
      "(pid ${VOKRAM_WINESERVER_PID:-none}, now ${now:-none})" >&2
    return 1
  fi
  [ -z "${VOKRAM_EXPLORER_PID:-}" ] && return 0
  now=$(wine_env_explorer_pids)
  [ "$now" = "$VOKRAM_EXPLORER_PID" ] && return 0
  echo "wine-env: the desktop of $WINEPREFIX was closed during the run" \
    "(explorer.exe pid $VOKRAM_EXPLORER_PID, now ${now:-none})" >&2
  return 1
}

wine_env_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${VOKRAM_HOLDER_PID:-}" ]; then
    wait "$VOKRAM_HOLDER_PID" 2>/dev/null || true
    unset VOKRAM_HOLDER_PID
  fi
  if [ -n "${VOKRAM_XVFB_PID:-}" ]; then
    kill "$VOKRAM_XVFB_PID" 2>/dev/null || true
    wait "$VOKRAM_XVFB_PID" 2>/dev/null || true
    unset VOKRAM_XVFB_PID
  fi
  unset VOKRAM_WINESERVER_PID VOKRAM_EXPLORER_PID
}

# Runs the Windows build's tests under Wine into LOG, as the test command
# does: a Wine of its own for the run, with one desktop kept for all the
# tests, torn down after it. Leaves in VOKRAM_WINE_CHECK "ok", "no Wine" (LOG
# is then empty) or "changed" (the server or the desktop did not last).
#   wine_env_ctest PREFIX_DIR JOBS LOG      (PREFIX_DIR inside the build folder)
wine_env_ctest() {
  local prefix=$1 jobs=$2 log=$3
  VOKRAM_WINE_CHECK="no Wine"
  trap wine_env_stop EXIT
  if wine_env_start "$prefix" &&
     wine_env_hold_desktop "$(dirname "$prefix")/tests/desktop_holder.exe"; then
    # Stdin from /dev/null: on a terminal, Wine gives every test process a
    # console of its own, which makes each start several times slower.
    ctest --preset windows -j "$jobs" --timeout 300 --output-on-failure </dev/null 2>&1 |
      tee "$log"
    if wine_env_check; then VOKRAM_WINE_CHECK=ok; else VOKRAM_WINE_CHECK=changed; fi
  else
    : >"$log"
  fi
  wine_env_stop
  trap - EXIT
}
