# A real Remote Desktop connection on this machine, shared by scripts/demo-rdp and the real-client
# tests (sourced, not run, after lib.sh): two X displays (the client's desktop with icewm, the
# remote session), Wine prefixes for each side, quorv-rdp-server serving the session with
# quorv-agent, and FreeRDP's Windows client with the add-in. Functions say what they wait for and
# print one line when it does not come.
#   . scripts/lib.sh; . scripts/rdp-lib.sh

RDP_PIDS=()
RDP_WAIT=${RDP_WAIT:-30}  # seconds to wait for anything the session or the client should do

rdp_say() { echo "   $*"; }
rdp_fail() { echo "   ${QUORV_PROG:-rdp}: $*" >&2; return 1; }

# rdp_free_port: a TCP port on 127.0.0.1 that nothing listens on.
rdp_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# rdp_build_server: builds quorv-rdp-server (scripts/build-rdp-server) and prints its path.
rdp_build_server() {
  if [ ! -x "$QUORV_ROOT/scripts/build-rdp-server" ]; then
    rdp_fail "this tree has no RDP server (scripts/build-rdp-server)"
    return 1
  fi
  # The callers have run scripts/setup.
  "$QUORV_ROOT/scripts/build-rdp-server" --no-setup >&2 || return 1
  local server=$QUORV_ROOT/build/rdp-server/quorv-rdp-server
  [ -x "$server" ] || { rdp_fail "scripts/build-rdp-server made no $server"; return 1; }
  echo "$server"
}

# rdp_start_displays RAW: the client's and the session's X displays (RDP_CLIENT_DISPLAY,
# RDP_SESSION_DISPLAY), 1280x1024 at 24 bits.
rdp_start_displays() {
  local raw=$1
  rm -f "$raw/display-client" "$raw/display-session"
  Xvfb -displayfd 3 $QUORV_SCREEN -nolisten tcp 3>"$raw/display-client" >/dev/null 2>&1 &
  RDP_PIDS+=($!)
  Xvfb -displayfd 3 $QUORV_SCREEN -nolisten tcp 3>"$raw/display-session" >/dev/null 2>&1 &
  RDP_PIDS+=($!)
  local _
  for _ in $(seq 100); do
    [ -s "$raw/display-client" ] && [ -s "$raw/display-session" ] && break
    sleep 0.1
  done
  [ -s "$raw/display-client" ] && [ -s "$raw/display-session" ] || { rdp_fail "Xvfb did not start"; return 1; }
  RDP_CLIENT_DISPLAY=:$(cat "$raw/display-client")
  RDP_SESSION_DISPLAY=:$(cat "$raw/display-session")
}

# rdp_prepare_prefixes ARCH DIR: the session's prefix (64-bit Wine, which runs natively where
# 32-bit programs may go through an emulator; unmanaged windows: no window manager there) and the
# client's (32- or 64-bit, managed by the client desktop's window manager, display mode 0 in the
# registry).
rdp_prepare_prefixes() {
  local arch=$1 dir=$2
  RDP_SESSION_PREFIX=$dir/session
  RDP_CLIENT_ARCH=win32 RDP_CLIENT_WINE=/usr/lib/wine/wine
  [ "$arch" = x64 ] && RDP_CLIENT_ARCH=win64 RDP_CLIENT_WINE=/usr/lib/wine/wine64
  RDP_CLIENT_PREFIX=$dir/client-$arch
  mkdir -p "$dir"
  rdp_say "preparing the Wine prefixes (a first run takes a minute or two)"
  (export DISPLAY=$RDP_SESSION_DISPLAY WINEPREFIX=$RDP_SESSION_PREFIX QUORV_WINE_ARCH=win64
   quorv_wine_prefix) || { rdp_fail "the session's prefix could not be made"; return 1; }
  if [ ! -f "$RDP_CLIENT_PREFIX/.quorv-client-ready" ]; then
    (rdp_client_env
     "$RDP_CLIENT_WINE" wineboot -i >/dev/null 2>&1
     # Display mode 0: the frame shows only through the remote windows' shapes. The add-in reads
     # the 32-bit view of the registry, on either architecture.
     "$RDP_CLIENT_WINE" reg add 'HKLM\SOFTWARE\quorv\tamberlyn\Client\LocalInput' /v WindowDisplayMode \
       /t REG_DWORD /d 0 /f /reg:32 >/dev/null 2>&1
     "$QUORV_WINESERVER" -w) || { rdp_fail "the client's prefix could not be made"; return 1; }
    touch "$RDP_CLIENT_PREFIX/.quorv-client-ready"
  fi
  # One wine server for each side for the whole run, so that each program starts quickly.
  (export WINEPREFIX=$RDP_SESSION_PREFIX; "$QUORV_WINESERVER" -p) 2>/dev/null || true
  (rdp_client_env; "$QUORV_WINESERVER" -p) 2>/dev/null || true
  mkdir -p "$RDP_SESSION_PREFIX/drive_c/demo"
  printf 'quorv over a real Remote Desktop connection\r\n\r\nThis window runs in the remote session.\r\n' \
    >"$RDP_SESSION_PREFIX/drive_c/demo/todo.txt"
  # Where the programs open, so that their windows lie apart.
  local k v
  for kv in 'Notepad iWindowPosX 60' 'Notepad iWindowPosY 50' 'Notepad iWindowPosDX 620' \
            'Notepad iWindowPosDY 460' 'WinMine Xpos 760' 'WinMine Ypos 90'; do
    set -- $kv
    rdp_session_wine reg add "HKCU\\Software\\Microsoft\\$1" /v "$2" /t REG_DWORD /d "$3" /f >/dev/null 2>&1
  done
}

# rdp_client_folder DIR WFREERDP DLL APPNAME: DIR/app as a user installs the client: wfreerdp.exe,
# the add-in as libquorv-client.dll (FreeRDP's MinGW build loads /vc:quorv by that name), and
# Language.ini beside them with the frame's title as AppName.
rdp_client_folder() {
  mkdir -p "$1/app" &&
    cp "$2" "$1/app/wfreerdp.exe" && cp "$3" "$1/app/libquorv-client.dll" &&
    printf '[GLOBAL]\r\nAppName=%s\r\n' "$4" >"$1/app/Language.ini"
}

rdp_client_env() {
  export DISPLAY=$RDP_CLIENT_DISPLAY WINEPREFIX=$RDP_CLIENT_PREFIX WINEARCH=$RDP_CLIENT_ARCH
  export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=" LANG=${LANG:-C.UTF-8}
}
rdp_session_wine() {
  (export DISPLAY=$RDP_SESSION_DISPLAY WINEPREFIX=$RDP_SESSION_PREFIX WINEARCH=win64 \
          WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=${LANG:-C.UTF-8}
   /usr/lib/wine/wine64 "$@")
}
# rdp_session_run PROGRAM [ARGS...]: starts a program in the session.
rdp_session_run() {
  rdp_session_wine "$@" >/dev/null 2>&1 &
  RDP_PIDS+=($!)
}

# rdp_start_desktop RAW: icewm on the client's display, with its taskbar (window buttons with
# titles and icons) and notification area, and a plain background colour the frame's holes show.
RDP_DESKTOP_RGB="30 70 110"
rdp_start_desktop() {
  local raw=$1
  mkdir -p "$raw/icewm"
  cat >"$raw/icewm/preferences" <<EOF
ShowTaskBar=1
TaskBarShowTray=1
TaskBarShowWindowIcons=1
TaskBarShowClock=0
TaskBarShowAPMStatus=0
TaskBarShowCPUStatus=0
TaskBarShowMEMStatus=0
TaskBarShowNetStatus=0
TaskBarShowMailboxStatus=0
TaskBarShowWorkspaces=0
TaskBarShowWindowListMenu=0
TaskBarShowShowDesktopButton=0
DesktopBackgroundColor="rgb:$(printf '%02x/%02x/%02x' $RDP_DESKTOP_RGB)"
DesktopBackgroundImage=""
FocusRequestFlashTime=0
ShowSettingsMenu=0
ShowHelp=0
EOF
  echo 'Theme="default/default.theme"' >"$raw/icewm/theme"
  DISPLAY=$RDP_CLIENT_DISPLAY ICEWM_PRIVCFG=$raw/icewm icewm >"$raw/icewm.log" 2>&1 &
  RDP_PIDS+=($!)
  local _ wm=0
  for _ in $(seq $((RDP_WAIT * 10))); do
    DISPLAY=$RDP_CLIENT_DISPLAY xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' &&
      { wm=1; break; }
    sleep 0.1
  done
  [ $wm = 1 ] || { rdp_fail "icewm did not start on the client's display (see $raw/icewm.log)"; return 1; }
  # icewm leaves the background to icewmbg (icewm-session starts both); without an image of the
  # theme's, a plain colour. Once in a while icewmbg cannot open the display when it starts and
  # the desktop stays black, which every check of the frame's holes would take for the session:
  # started again until the screen's middle shows the colour.
  local colour bg=
  colour=$(printf '#%02X%02X%02X' $RDP_DESKTOP_RGB)
  for _ in $(seq $((RDP_WAIT * 2))); do
    DISPLAY=$RDP_CLIENT_DISPLAY import -window root -crop 1x1+640+300 -depth 8 txt:- 2>/dev/null |
      grep -qF "$colour" && return 0
    if [ -z "$bg" ] || ! kill -0 "$bg" 2>/dev/null; then
      DISPLAY=$RDP_CLIENT_DISPLAY ICEWM_PRIVCFG=$raw/icewm icewmbg -i '' -k "$colour" >>"$raw/icewmbg.log" 2>&1 &
      bg=$!
      RDP_PIDS+=($bg)
    fi
    sleep 0.5
  done
  rdp_fail "the client desktop's background was not painted (see $raw/icewmbg.log)"
}

# rdp_start_server OUT SERVER [OPTIONS...]: quorv-rdp-server serving the session's display
# (RDP_PORT), with its log in OUT/server.log; the agent's port is RDP_AGENT_PORT.
rdp_start_server() {
  local out=$1 server=$2
  shift 2
  RDP_PORT=$(rdp_free_port) RDP_AGENT_PORT=$(rdp_free_port)
  rm -f "$out/server.log"
  "$server" --display "$RDP_SESSION_DISPLAY" --port "$RDP_PORT" --agent-port "$RDP_AGENT_PORT" \
    --log "$out/server.log" "$@" >"$out/raw/server.out" 2>&1 &
  RDP_SERVER_PID=$!
  RDP_PIDS+=($RDP_SERVER_PID)
  # Ready when it says it serves (a trial connection would count as a client).
  local _
  for _ in $(seq $((RDP_WAIT * 10))); do
    grep -q "serving .* on 127.0.0.1:$RDP_PORT" "$out/server.log" 2>/dev/null && return 0
    kill -0 "$RDP_SERVER_PID" 2>/dev/null || break
    sleep 0.1
  done
  rdp_fail "the RDP server does not listen (see $out/raw/server.out)"
}

# rdp_start_agent OUT: quorv-agent in the session, connected to the server's agent port.
rdp_start_agent() {
  local out=$1
  cp "${RDP_AGENT_EXE:-$QUORV_ROOT/build/windows-x64/bin/quorv-agent.exe}" "$RDP_SESSION_PREFIX/drive_c/demo/"
  rm -f "$RDP_SESSION_PREFIX/drive_c/demo/agent.log"
  rdp_session_run 'C:\demo\quorv-agent.exe' --connect "127.0.0.1:$RDP_AGENT_PORT" --interval 150 \
    --log 'C:\demo\agent.log'
}

# rdp_start_client OUT TITLE [OPTIONS...]: wfreerdp.exe from OUT/app with the add-in, connected to
# the server, its frame titled TITLE; its output in OUT/client.log. Full screen (/f): the frame is
# then a borderless window whose client area, where the session is drawn, is the whole window, so
# the shape the add-in cuts (in window coordinates) lies exactly over the remote windows' pixels.
# A windowed client keeps its sizing border when the add-in takes its caption away, and the
# picture lies 3 pixels right and down of its shape.
# RDP_ADDIN_LOG=0: the add-in's diagnostic log off (as users run it); RDP_ADDIN=0: the client
# without the add-in (for comparisons).
rdp_start_client() {
  local out=$1 title=$2
  shift 2
  rm -f "$RDP_CLIENT_PREFIX/drive_c/vozuda.log" "$RDP_CLIENT_PREFIX/drive_c/QVX_EnableDebug"
  [ "${RDP_ADDIN_LOG:-1}" = 1 ] && touch "$RDP_CLIENT_PREFIX/drive_c/QVX_EnableDebug"
  local channel=/vc:quorv
  [ "${RDP_ADDIN:-1}" = 1 ] || channel=
  (rdp_client_env
   cd "$out/app" && exec "$RDP_CLIENT_WINE" wfreerdp.exe "/v:127.0.0.1:$RDP_PORT" ${channel:+"$channel"} \
     "/title:$title" /cert:ignore /u:demo /p:demo /f -clipboard "$@") \
     >"$out/client.log" 2>&1 &
  RDP_CLIENT_PID=$!
  RDP_PIDS+=($RDP_CLIENT_PID)
}

rdp_stop_client() {
  (rdp_client_env; "$RDP_CLIENT_WINE" taskkill /f /im wfreerdp.exe >/dev/null 2>&1) || true
  wait "$RDP_CLIENT_PID" 2>/dev/null || true
}

rdp_collect_logs() {
  local out=$1
  cp "$RDP_SESSION_PREFIX/drive_c/demo/agent.log" "$out/agent.log" 2>/dev/null || true
  cp "$RDP_CLIENT_PREFIX/drive_c/vozuda.log" "$out/vozuda.log" 2>/dev/null || true
}

rdp_cleanup() {
  (export DISPLAY=$RDP_SESSION_DISPLAY WINEPREFIX=$RDP_SESSION_PREFIX; "$QUORV_WINESERVER" -k) 2>/dev/null || true
  (rdp_client_env; "$QUORV_WINESERVER" -k) 2>/dev/null || true
  local pid
  for pid in "${RDP_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -f "$RDP_CLIENT_PREFIX/drive_c/QVX_EnableDebug" 2>/dev/null || true
}

# ---- what the displays show ----------------------------------------------------------------------

# rdp_until SECONDS COMMAND...: true as soon as COMMAND is, false after SECONDS.
rdp_until() {
  local end=$((SECONDS + $1))
  shift
  while :; do
    "$@" && return 0
    [ $SECONDS -ge $end ] && return 1
    sleep 0.2
  done
}

# The X window of a display whose name is exactly TITLE (the first).
rdp_window() { DISPLAY=$1 xdotool search --onlyvisible --name "^$(rdp_regex "$2")\$" 2>/dev/null | head -n 1; }
rdp_regex() { printf '%s' "$1" | sed 's/[][\.*^$()+?{}|]/\\&/g'; }
rdp_client_window() { rdp_window "$RDP_CLIENT_DISPLAY" "$1"; }
rdp_session_window() { rdp_window "$RDP_SESSION_DISPLAY" "$1"; }

# (The window is looked for again at every try: rdp_until runs a command, not its result.)
rdp_has_client_window() { [ -n "$(rdp_client_window "$1")" ]; }
rdp_has_session_window() { [ -n "$(rdp_session_window "$1")" ]; }
rdp_no_client_window() { [ -z "$(rdp_client_window "$1")" ]; }
rdp_no_session_window() { [ -z "$(rdp_session_window "$1")" ]; }
rdp_await_client_window() { rdp_until "$RDP_WAIT" rdp_has_client_window "$1"; }
rdp_await_session_window() { rdp_until "$RDP_WAIT" rdp_has_session_window "$1"; }
rdp_await_client_gone() { rdp_until "$RDP_WAIT" rdp_no_client_window "$1"; }
rdp_await_session_gone() { rdp_until "$RDP_WAIT" rdp_no_session_window "$1"; }

# rdp_geometry DISPLAY WINDOW: "X Y WIDTH HEIGHT" of a window on its display.
rdp_geometry() {
  DISPLAY=$1 xwininfo -id "$2" 2>/dev/null | awk '
    /Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
    /Width:/ {w=$NF} /Height:/ {h=$NF} END {if (w) print x, y, w, h}'
}

# rdp_session_geometry TITLE: "X Y WIDTH HEIGHT" of the session's window TITLE.
rdp_session_geometry() {
  local win geo
  win=$(rdp_session_window "$1")
  [ -n "$win" ] || { rdp_fail "no window '$1' in the session"; return 1; }
  geo=$(rdp_geometry "$RDP_SESSION_DISPLAY" "$win")
  [ -n "$geo" ] || { rdp_fail "window '$1' of the session has no geometry"; return 1; }
  echo "$geo"
}

# rdp_pixels_match TITLE: the client's screen shows, where the session's window TITLE is, the
# session's pixels (at most 3% of them differ, for the caret and the clock's hands).
rdp_pixels_match() {
  local geo
  geo=$(rdp_session_geometry "$1") || return 1
  set -- $geo
  local crop=${3}x${4}+$1+$2 tmp
  tmp=$(mktemp -d)
  import -window root -display "$RDP_SESSION_DISPLAY" -crop "$crop" +repage "$tmp/s.png"
  import -window root -display "$RDP_CLIENT_DISPLAY" -crop "$crop" +repage "$tmp/c.png"
  local differ
  differ=$(compare -metric AE -fuzz 6% "$tmp/s.png" "$tmp/c.png" null: 2>&1 | cut -d' ' -f1)
  rm -rf "$tmp"
  [[ $differ =~ ^[0-9.e+]+$ ]] || return 1
  python3 -c 'import sys; sys.exit(0 if float(sys.argv[1]) <= 0.03 * int(sys.argv[2]) * int(sys.argv[3]) else 1)' \
    "$differ" "$3" "$4"
}
rdp_await_pixels_match() { rdp_until "$RDP_WAIT" rdp_pixels_match "$1"; }

# rdp_desktop_shows_through: where no window of the session is, the client shows its own desktop's
# colour, not the session's: the frame is cut to the windows' shapes. Looks at a grid of points.
rdp_desktop_shows_through() {
  local rects
  rects=$(for w in $(DISPLAY=$RDP_SESSION_DISPLAY xdotool search --onlyvisible --name '.' 2>/dev/null); do
            rdp_geometry "$RDP_SESSION_DISPLAY" "$w"
          done)
  local tmp
  tmp=$(mktemp -d)
  import -window root -display "$RDP_CLIENT_DISPLAY" -depth 8 "$tmp/c.ppm"
  python3 - "$tmp/c.ppm" "$RDP_DESKTOP_RGB" "$rects" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
# binary PPM: P6 width height maxval, then RGB
parts = data.split(maxsplit=4)
w, h = int(parts[1]), int(parts[2])
pixels = parts[4]
want = tuple(int(v) for v in sys.argv[2].split())
rects = [tuple(int(v) for v in line.split()) for line in sys.argv[3].splitlines() if line.strip()]
checked = bad = 0
for y in range(40, h - 80, 37):
    for x in range(20, w - 20, 41):
        if any(rx - 8 <= x < rx + rw + 8 and ry - 8 <= y < ry + rh + 8 for rx, ry, rw, rh in rects):
            continue
        i = (y * w + x) * 3
        checked += 1
        if tuple(pixels[i:i + 3]) != want:
            bad += 1
print(f"   {checked} points outside the session's windows, {bad} not the client desktop's colour")
sys.exit(0 if checked > 20 and bad <= checked // 50 else 1)
PY
  local rc=$?
  rm -rf "$tmp"
  return $rc
}
# The same, given the time the client and the window manager take to draw (a loaded machine).
rdp_await_desktop_shows_through() {
  rdp_until "$RDP_WAIT" rdp_desktop_shows_through >/dev/null || rdp_desktop_shows_through
}

# rdp_xtest DISPLAY ACTION...: mouse and keys as a user's, through xdotool (XTest).
rdp_xtest() { DISPLAY=$1 xdotool "${@:2}" >/dev/null 2>&1; }

# rdp_session_drag TITLE DX DY: drags a session window by its caption.
rdp_session_drag() {
  local geo
  geo=$(rdp_session_geometry "$1") || return 1
  set -- $geo "$2" "$3"
  local x=$(($1 + 60)) y=$(($2 + 10)) i
  rdp_xtest "$RDP_SESSION_DISPLAY" mousemove $x $y sleep 0.2 mousedown 1 sleep 0.3
  for i in $(seq 1 20); do
    rdp_xtest "$RDP_SESSION_DISPLAY" mousemove $((x + $5 * i / 20)) $((y + $6 * i / 20)) sleep 0.03
  done
  rdp_xtest "$RDP_SESSION_DISPLAY" sleep 0.2 mouseup 1
}

# rdp_session_key TITLE KEYS: a click into the session's window TITLE, then KEYS (xdotool names).
rdp_session_key() {
  local geo
  geo=$(rdp_session_geometry "$1") || return 1
  set -- $geo "$2"
  rdp_xtest "$RDP_SESSION_DISPLAY" mousemove $(($1 + $3 / 2)) $(($2 + $4 / 2)) sleep 0.1 click 1 sleep 0.3 key "$5"
}

# rdp_click_client_over TITLE DX DY: a click on the client desktop at DX,DY inside where the
# session's window TITLE is: the client's frame shows it there, and the click goes to the session.
rdp_click_client_over() {
  local geo
  geo=$(rdp_session_geometry "$1") || return 1
  set -- $geo "$2" "$3"
  rdp_xtest "$RDP_CLIENT_DISPLAY" mousemove $(($1 + $5)) $(($2 + $6)) sleep 0.2 click 1
}

# The session's window that has the X input focus (Wine gives it to the foreground window).
rdp_session_focus_name() { DISPLAY=$RDP_SESSION_DISPLAY xdotool getwindowfocus getwindowname 2>/dev/null; }
rdp_session_active_is() { [ "$(rdp_session_focus_name)" = "$1" ]; }
rdp_await_session_active() { rdp_until "$RDP_WAIT" rdp_session_active_is "$1"; }

# ---- the client desktop's panel ------------------------------------------------------------------

# rdp_taskbar_button TITLE: "X Y" of the middle of TITLE's button in icewm's taskbar. icewm lays
# the buttons out in the order of its task list; the button's text is the window's title, which
# the task pane's child windows do not carry, so the button is found by matching its order with
# the order of the managed windows icewm reports (_NET_CLIENT_LIST).
rdp_taskbar_button() {
  DISPLAY=$RDP_CLIENT_DISPLAY python3 - "$1" <<'PY'
import re, subprocess, sys
title = sys.argv[1]
def run(*a):
    return subprocess.run(a, capture_output=True, text=True).stdout
clients = re.findall(r"0x[0-9a-f]+", run("xprop", "-root", "_NET_CLIENT_LIST").split("=", 1)[-1])
names = []
for c in clients:
    n = run("xprop", "-id", c, "_NET_WM_NAME")
    m = re.search(r'= "(.*)"', n)
    state = run("xprop", "-id", c, "_NET_WM_STATE", "_NET_WM_WINDOW_TYPE")
    if "SKIP_TASKBAR" in state:
        continue
    names.append(m.group(1) if m else "")
if title not in names:
    sys.exit(f"no window '{title}' among the taskbar's windows {names}")
tree = run("xwininfo", "-root", "-tree")
# The task pane's buttons: the children of the window icewm names "TaskPane" (its class).
lines = tree.splitlines()
start = next((i for i, l in enumerate(lines) if "TaskPane" in l), None)
if start is None:
    sys.exit("icewm's task pane was not found")
indent = len(lines[start]) - len(lines[start].lstrip())
buttons = []
for l in lines[start + 1:]:
    ind = len(l) - len(l.lstrip())
    if ind <= indent and l.strip():
        break
    m = re.search(r"(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)", l)
    # xwininfo indents each level of the tree by 3 more: the pane's own children only.
    if m and ind == indent + 3:
        w, h, x, y = map(int, m.groups())
        if w > 20:
            buttons.append((x, y, w, h))
buttons.sort()
if len(buttons) != len(names):
    sys.exit(f"{len(buttons)} task buttons for {len(names)} windows")
x, y, w, h = buttons[names.index(title)]
print(x + w // 2, y + h // 2)
PY
}

# rdp_click_taskbar_button TITLE BUTTON: a click (1 left, 3 right) on TITLE's taskbar button.
rdp_click_taskbar_button() {
  local at
  at=$(rdp_taskbar_button "$1") || { rdp_fail "$at"; return 1; }
  rdp_xtest "$RDP_CLIENT_DISPLAY" mousemove $at sleep 0.2 click "$2"
}

# rdp_close_from_taskbar TITLE: "Close" from the menu of TITLE's taskbar button.
rdp_close_from_taskbar() {
  rdp_click_taskbar_button "$1" 3 || return 1
  sleep 0.8
  # icewm's window menu: its Close entry is chosen with its underlined letter.
  rdp_xtest "$RDP_CLIENT_DISPLAY" key c
}

# The icons docked in icewm's notification area: the windows embedded in its tray (XEmbed).
rdp_tray_icons() {
  DISPLAY=$RDP_CLIENT_DISPLAY xwininfo -root -tree 2>/dev/null | awk '
    /"SystemTray"|"TrayPane"/ {inside=1; indent=match($0, /[^ ]/); next}
    inside { i = match($0, /[^ ]/); if (i <= indent) inside = 0; else if ($0 ~ /[0-9]+x[0-9]+\+/) print }'
}
rdp_has_tray_icon() { [ -n "$(rdp_tray_icons)" ]; }
rdp_tray_icon_present() { rdp_until "$RDP_WAIT" rdp_has_tray_icon; }

# rdp_click_tray_icon: a left click on the first docked icon.
rdp_click_tray_icon() {
  local line
  line=$(rdp_tray_icons | head -n 1)
  [[ $line =~ ([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+\ +\+(-?[0-9]+)\+(-?[0-9]+) ]] ||
    { rdp_fail "no icon in the tray"; return 1; }
  rdp_xtest "$RDP_CLIENT_DISPLAY" mousemove $((BASH_REMATCH[3] + BASH_REMATCH[1] / 2)) \
    $((BASH_REMATCH[4] + BASH_REMATCH[2] / 2)) sleep 0.2 click 1
}
rdp_await_agent_menu() {
  rdp_until "$RDP_WAIT" grep -q "showing the agent's menu at" "$RDP_SESSION_PREFIX/drive_c/demo/agent.log"
}
