# Sourced: a private 64-bit Wine prefix and a virtual display for one run.
#   wine_env_start PREFIX_DIR   sets WINEPREFIX, starts Xvfb when DISPLAY is
#                               unset, starts wineserver and boots the prefix
#   wine_env_stop               ends wineserver and the display it started
#   wine_env_prepare PREFIX_DIR boots a prefix with these settings and ends it
#                               again: the template that wine_prefix_copy copies
#   wine_prefix_copy FROM TO    a copy of a prepared prefix for one program
export WINEDEBUG=-all
export WINEARCH=win64
# mapi32: a stand-in beside a test exe is preferred to the built-in one.
export WINEDLLOVERRIDES="mscoree,mshtml=;mapi32=n,b"

_tv_xvfb_pid=""

wine_env_start() {
  export WINEPREFIX="$1"
  mkdir -p "$WINEPREFIX"
  if [ -z "${DISPLAY:-}" ]; then
    local fifo; fifo=$(mktemp -u); mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    _tv_xvfb_pid=$!
    local num; read -r num <"$fifo"; rm -f "$fifo"
    export DISPLAY=":$num"
  fi
  # The background processes must not inherit a test's output pipe.
  wineserver -p >/dev/null 2>&1 </dev/null
  local log="$WINEPREFIX/../wineboot.log"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >"$log" 2>&1 </dev/null
  else
    wineboot >"$log" 2>&1 </dev/null || true
  fi
  # A crashing program ends at once instead of waiting in a debugger; windows
  # are not managed by the (absent) window manager, which makes them fast.
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
       /v Debugger /t REG_SZ /d '' /f >>"$log" 2>&1 </dev/null
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
       /v Auto /t REG_SZ /d 0 /f >>"$log" 2>&1 </dev/null
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
       >>"$log" 2>&1 </dev/null
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
       >>"$log" 2>&1 </dev/null
}

wine_env_stop() {
  wineserver -k >/dev/null 2>&1 </dev/null || true
  wineserver -w >/dev/null 2>&1 </dev/null || true
  if [ -n "$_tv_xvfb_pid" ]; then
    kill "$_tv_xvfb_pid" 2>/dev/null || true
    _tv_xvfb_pid=""
    unset DISPLAY
  fi
}

wine_env_prepare() {
  rm -rf "$1"
  wine_env_start "$1"
  wine_env_stop
}

# The Windows folder's programs and libraries are never written: they are
# linked, which makes a copy take a few hundredths of a second. Everything
# else (registry, settings files, the users' folders) is copied.
wine_prefix_copy() {
  local from=$1 to=$2
  cp -al "$from" "$to" && to=$(cd "$to" && pwd)
  (cd "$from" && find . -type f ! \( -iname '*.dll' -o -iname '*.exe' -o -iname '*.nls' \
      -o -iname '*.sys' -o -iname '*.drv' -o -iname '*.ocx' -o -iname '*.cpl' \
      -o -iname '*.acm' -o -iname '*.tlb' -o -iname '*.ds' -o -iname '*.com' \
      -o -iname '*.msstyles' \) -print0 |
    xargs -0 -r cp -p --parents --remove-destination -t "$to")
}

# Screenshots of windows that a show program of the tests puts up: for each
# name, `SHOW name READY DONE` is started in the current folder; once it has
# made the file READY, the screen is saved as OUTDIR/name.png and, cut to the
# window, as OUTDIR/name-window.png; then DONE lets it end.
# usage: wine_screenshots SHOW.exe OUTDIR name...
wine_screenshots() {
  local show=$1 out=$2 what ready done_file pid
  shift 2
  for what in "$@"; do
    ready="$out/.$what.ready"; done_file="$out/.$what.done"
    rm -f "$ready" "$done_file"
    wine "$show" "$what" "$(winepath -w "$ready")" "$(winepath -w "$done_file")" \
        </dev/null >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 1 300); do [ -f "$ready" ] && break; sleep 0.1; done
    [ -f "$ready" ] || { echo "the $what window did not come up" >&2; kill "$pid"; return 1; }
    import -display "$DISPLAY" -window root "$out/$what.png"
    convert "$out/$what.png" -trim +repage "$out/$what-window.png"
    touch "$done_file"
    wait "$pid" || true
    rm -f "$ready" "$done_file"
    echo "$out/$what.png"
  done
}
