# Shared by the scripts (sourced, not run): the repository's paths, argument errors, "configure,
# build, show the log tail on failure", progress lines for long work, and Wine with Xvfb and one
# wine server.
#   . "$(dirname "$0")/lib.sh"

QUORV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QUORV_LIB=$QUORV_ROOT/scripts/lib.sh
# Seconds between two progress lines of long work.
QUORV_TICK=${QUORV_TICK:-25}
# 24-bit depth: at the default 8 bits icon pixels turn into a palette.
QUORV_SCREEN="-screen 0 1280x1024x24"
QUORV_WINESERVER=/usr/lib/wine/wineserver
# What is built or made once and kept across clones: FreeRDP's client, Wine prefixes.
QUORV_CACHE=${QUORV_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quorv}

# ---- arguments -------------------------------------------------------------------------------

# quorv_usage_error MESSAGE: one line on standard error, exit 2. $QUORV_PROG names the script.
quorv_usage_error() {
  echo "${QUORV_PROG:-${0##*/}}: $* (see ${QUORV_PROG:-$0} --help)" >&2
  exit 2
}

# quorv_is_count TEXT: a whole number, 1 or more.
quorv_is_count() { [[ $1 =~ ^[1-9][0-9]{0,6}$ ]]; }

# ---- long work -------------------------------------------------------------------------------

# The furthest sign of progress in a log: a build's percentage, ctest's test count, or apt's
# packages set up. The furthest, not the last: two targets built side by side print their own
# percentages, and tests run side by side finish out of order, so the last line may lag behind.
_quorv_progress_hint() {
  local line
  line=$(grep -aoE '^\[ *[0-9]+%\]' "$1" 2>/dev/null | tr -d '[]% ' | sort -n | tail -n 1)
  if [ -n "$line" ]; then echo "$line% built, "; return; fi
  line=$(grep -aoE '^ *[0-9]+/[0-9]+ Test' "$1" 2>/dev/null | sed -E 's/^ *([0-9]+)\/([0-9]+).*/\1 \2/' | sort -n | tail -n 1)
  if [ -n "$line" ]; then echo "${line% *}/${line#* } tests done, "; return; fi
  local total
  total=$(sed -nE 's/^[0-9]+ upgraded, ([0-9]+) newly installed.*/\1/p' "$1" 2>/dev/null | tail -n 1)
  if [ -n "$total" ]; then
    echo "$total packages: $(grep -acE '^Get:' "$1") downloaded, $(grep -acE '^Setting up ' "$1") set up, "
  fi
}

# quorv_watch LABEL LOG COMMAND...: runs COMMAND with its output in LOG and prints a line every
# $QUORV_TICK seconds while it runs (what, how far, elapsed). Returns COMMAND's status.
quorv_watch() {
  local label=$1 log=$2
  shift 2
  local start=$SECONDS next=$((SECONDS + QUORV_TICK))
  "$@" >"$log" 2>&1 &
  local pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    sleep 0.5
    if [ $SECONDS -ge $next ]; then
      echo "   ... $label: $(_quorv_progress_hint "$log")$((SECONDS - start)) s"
      next=$((SECONDS + QUORV_TICK))
    fi
  done
  wait "$pid"
}

# quorv_build PRESET LOGDIR [BUILD-ARGS...]: configures and builds one preset (logs
# LOGDIR/configure-PRESET.log and LOGDIR/build-PRESET.log, LOGDIR relative to the repository);
# on failure prints the logs' tails and returns 1.
# Where ccache is installed, a build directory configured here compiles through it, with its
# cache in $QUORV_CACHE/ccache and paths taken relative to the clone: a clean clone (CI's) then
# compiles only what changed since the runs before it.
quorv_build() {
  local preset=$1 logs=$2
  shift 2
  [[ $logs == /* ]] || logs=$QUORV_ROOT/$logs
  mkdir -p "$logs"
  local configure=$logs/configure-$preset.log build=$logs/build-$preset.log
  : >"$build"
  if ! (cd "$QUORV_ROOT" && quorv_ccache_env && quorv_watch "configure $preset" "$configure" cmake --preset "$preset" &&
        quorv_watch "build $preset" "$build" cmake --build --preset "$preset" -j2 "$@"); then
    echo "build $preset failed:"
    tail -n 40 "$configure" "$build"
    return 1
  fi
}

# quorv_ccache_env: exports what makes a first configure compile through ccache, where it is
# installed (a build directory configured before keeps its compilers).
quorv_ccache_env() {
  command -v ccache >/dev/null 2>&1 || return 0
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER-ccache}
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER-ccache}
  export CCACHE_DIR=${CCACHE_DIR:-$QUORV_CACHE/ccache} CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-4G}
  CCACHE_BASEDIR=$(cd "$QUORV_ROOT" && pwd -P)
  # The build directory is not part of an object's key: clones in other folders share objects.
  export CCACHE_BASEDIR CCACHE_NOHASHDIR=1
}

# ---- 32-bit programs -------------------------------------------------------------------------

# quorv_32bit_emulated: true when this kernel runs 32-bit programs only through qemu's user-mode
# emulator, which scripts/setup registers where the kernel's own 32-bit support is switched off.
# They then run several times slower, Wine's start most of all.
quorv_32bit_emulated() {
  if [ -z "${QUORV_32BIT_EMULATED:-}" ]; then
    QUORV_32BIT_EMULATED=no
    local binfmt=/proc/sys/fs/binfmt_misc
    if [ -e $binfmt/status ]; then
      grep -qx enabled $binfmt/qemu-i386 2>/dev/null && QUORV_32BIT_EMULATED=yes
    elif [ "$(id -u)" = 0 ]; then
      # In a chroot (a fresh root made with debootstrap, say) /proc comes without the binfmt_misc
      # file system, while the kernel's registrations still apply to every program: look at them
      # through a mount of its own, taken away at once.
      local look
      look=$(mktemp -d)
      if mount -t binfmt_misc binfmt_misc "$look" 2>/dev/null; then
        grep -qx enabled "$look/qemu-i386" 2>/dev/null && QUORV_32BIT_EMULATED=yes
        umount "$look" 2>/dev/null
      fi
      rmdir "$look" 2>/dev/null
    fi
  fi
  [ "$QUORV_32BIT_EMULATED" = yes ]
}
# The emulated address space ends where 32-bit Wine's user space ends: Wine then reserves its
# address space in a second instead of minutes, and its shared page at 0x7ffe0000 is free.
export QEMU_RESERVED_VA=0x7fff0000
# quorv_spawn COMMAND...: starts COMMAND in the background in a process group of its own, with
# standard input from /dev/null, its process id in $QUORV_SPAWNED. Ctrl-C in a terminal goes to
# the terminal's foreground group only: it reaches the calling script, which can end things in
# order (the programs, then the host, then the displays), instead of everything at once.
quorv_spawn() {
  set -m
  "$@" </dev/null &
  QUORV_SPAWNED=$!
  set +m
}

# quorv_xvfb: starts an X server of 1280x1024 at 24 bits in a process group of its own; its display
# (":N") in $QUORV_XVFB_DISPLAY, its process id in $QUORV_SPAWNED. A display number drawn at random
# from 300 up, not the lowest free one: on a machine where several people run virtual displays,
# another's server on a low number may answer a client that asks for one this server also took.
quorv_xvfb() {
  local n
  for _ in $(seq 50); do
    n=$((300 + RANDOM % 600))
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
  done
  quorv_spawn Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1
  QUORV_XVFB_DISPLAY=:$n
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.1; done
  echo "${QUORV_PROG:-${0##*/}}: the X server for display :$n did not start" >&2
  return 1
}

# ---- tools ---------------------------------------------------------------------------------

# quorv_need TOOL...: each TOOL (a command, or a shared library such as libXtst.so.6) must be on
# this machine; the first that is missing is named in one line with the package that brings it,
# and the script exits 1.
quorv_need() {
  local tool package
  for tool in "$@"; do
    case $tool in
      # The whole list is read before it is searched: under pipefail, a `grep -q` that stops at
      # its first match can end ldconfig by SIGPIPE and fail a check that found the library.
      *.so.*) [[ $(ldconfig -p 2>/dev/null) == *"$tool "* ]] && continue ;;
      *) command -v "$tool" >/dev/null 2>&1 && continue ;;
    esac
    case $tool in
      xvfb-run|Xvfb) package=xvfb ;;
      import|montage|identify|convert) package=imagemagick ;;
      fc-match) package=fontconfig ;;
      libXtst.so.6) package=libxtst6 ;;
      libX11.so.6) package=libx11-6 ;;
      nc) package=netcat-openbsd ;;
      pgrep) package=procps ;;
      cmake|ctest) package=cmake ;;
      python3) package=python3 ;;
      /usr/lib/wine/wine) package=wine32 ;;
      /usr/lib/wine/wine64) package=wine64 ;;
      *-w64-mingw32-*) package="the MinGW-w64 binutils" ;;
      *) package= ;;
    esac
    echo "${QUORV_PROG:-${0##*/}}: needs $tool${package:+ (package $package)}, which is missing: run scripts/setup as root" >&2
    exit 1
  done
}

# ---- Wine ------------------------------------------------------------------------------------

# quorv_wine_env: the environment of the project's prefix: 32-bit (build/wine-prefix), or 64-bit
# (build/wine64-prefix) when QUORV_WINE_ARCH=win64; WINEPREFIX overrides the folder. No Mono or
# Gecko prompts.
quorv_wine_env() {
  export QUORV_WINE_ARCH=${QUORV_WINE_ARCH:-win32}
  if [ "$QUORV_WINE_ARCH" = win64 ]; then
    export WINEPREFIX=${WINEPREFIX:-$QUORV_ROOT/build/wine64-prefix}
    QUORV_WINE=/usr/lib/wine/wine64
  else
    export WINEPREFIX=${WINEPREFIX:-$QUORV_ROOT/build/wine-prefix}
    QUORV_WINE=/usr/lib/wine/wine
  fi
  export WINEARCH=$QUORV_WINE_ARCH WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
  export LANG=${LANG:-C.UTF-8}
}

# quorv_wine_prefix: makes the prefix on first use. Needs an X display.
# A prefix made once is kept as a template in the cache ($QUORV_CACHE/wine-prefix/, under the
# architecture and the installed Wine's stamp) and later prefixes are copies of it: under qemu's
# emulator a 32-bit Wine that is setting up a prefix now and then crashes or hangs for good in one
# of its service processes, and on a clean clone every run would take that chance again. Each
# attempt is bounded; a hung one is ended and made again, up to three times in all.
quorv_wine_prefix() {
  quorv_wine_env
  [ -f "$WINEPREFIX/.quorv-ready" ] && return 0
  local stamp template tries
  stamp=$(stat -c %Y /usr/share/wine/wine.inf 2>/dev/null || echo 0)
  # The recipe's number goes up whenever _quorv_make_prefix changes what it sets.
  template=$QUORV_CACHE/wine-prefix/r2-$QUORV_WINE_ARCH-$stamp
  if [ -f "$template/.quorv-ready" ]; then
    rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX" && cp -a "$template/." "$WINEPREFIX/" && return 0
  fi
  for tries in 1 2 3; do
    if _quorv_make_prefix; then
      touch "$WINEPREFIX/.quorv-ready"
      # Kept unless another run kept one first (a reader may be copying that one).
      local keep=$template.tmp.$BASHPID
      rm -rf "$keep" && mkdir -p "$keep" && cp -a "$WINEPREFIX/." "$keep/" &&
        [ ! -e "$template" ] && mv -T "$keep" "$template" 2>/dev/null
      rm -rf "$keep"
      return 0
    fi
    echo "${QUORV_PROG:-${0##*/}}: making the Wine prefix $WINEPREFIX failed or hung (attempt $tries of 3)" >&2
  done
  return 1
}

# One attempt at a prefix, every step bounded; true when it is whole (its registry and system
# folder are there and every program it started has ended).
_quorv_make_prefix() {
  "$QUORV_WINESERVER" -k 2>/dev/null
  rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX" || return 1
  timeout 600 "$QUORV_WINE" wineboot -i >/dev/null 2>&1
  [ $? != 124 ] &&
  # Without a window manager Wine waits about 2 s whenever a top-level window is hidden, unless
  # its windows are unmanaged.
  _quorv_reg_add 'HKCU\Software\Wine\X11 Driver' Managed REG_SZ N &&
  _quorv_reg_add 'HKCU\Software\Wine\X11 Driver' Decorated REG_SZ N &&
  # A program that crashes writes its backtrace to its own output and ends, instead of waiting
  # for a click on a crash dialog until its test's time-out.
  _quorv_reg_add 'HKCU\Software\Wine\WineDbg' ShowCrashDialog REG_DWORD 0 &&
  _quorv_no_debugger_when_emulated &&
  timeout 300 "$QUORV_WINESERVER" -w &&
  [ -f "$WINEPREFIX/system.reg" ] && [ -f "$WINEPREFIX/user.reg" ] &&
  [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] && return 0
  "$QUORV_WINESERVER" -k 2>/dev/null
  return 1
}

# Under the emulator the debugger Wine starts for a crashed program hangs for good while attaching,
# and keeps the program, and with it the output pipes it inherited, alive: a crash of one of
# Wine's service processes then held a test run's output open for hours. There a crashed program
# just ends.
_quorv_no_debugger_when_emulated() {
  [ "$QUORV_WINE_ARCH" = win32 ] && quorv_32bit_emulated || return 0
  _quorv_reg_add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' Debugger REG_SZ 'C:\windows\no-debugger.exe %ld %ld'
}

# _quorv_reg_add KEY NAME TYPE DATA: one registry value in the prefix, bounded like every step.
_quorv_reg_add() {
  timeout 300 "$QUORV_WINE" reg add "$1" /v "$2" /t "$3" /d "$4" /f >/dev/null 2>&1
}

# quorv_wine PROGRAM [ARGS...]: runs a Windows program in the prefix. Needs an X display
# (quorv_with_wine gives one).
quorv_wine() {
  quorv_wine_prefix
  "$QUORV_WINE" "$@"
}

# quorv_with_wine COMMAND...: runs COMMAND (a program or a function of the calling script) on a
# virtual X display with one wine server kept for the whole command (so each Windows program
# starts in a fraction of a second), and stops that server afterwards, also when interrupted.
quorv_with_wine() {
  quorv_wine_env
  # The caller's functions go along as text: xvfb-run is a POSIX shell script, which drops
  # functions exported through the environment.
  local rc=0
  xvfb-run -a -s "$QUORV_SCREEN" bash -c '. "$0" && eval "$1" && shift && _quorv_wine_session "$@"' \
    "$QUORV_LIB" "$(declare -f)" "$@" || rc=$?
  _quorv_wine_leftovers_end
  return $rc
}

# _quorv_wine_leftovers_end: ends the Wine programs of $WINEPREFIX that outlived its session.
# Under the emulator a program that hangs as it starts (the wineboot a new wine server starts, say)
# can lose its wine server, which then cannot end it, and stays at 0 % CPU for good.
_quorv_wine_leftovers_end() {
  local p exe
  for p in /proc/[0-9]*; do
    exe=$(readlink "$p/exe" 2>/dev/null) || continue
    case $exe in */qemu-i386*|*/wine*) ;; *) continue ;; esac
    { tr '\0' '\n' <"$p/environ"; } 2>/dev/null | grep -xF "WINEPREFIX=$WINEPREFIX" >/dev/null &&
      kill -9 "${p#/proc/}" 2>/dev/null
  done
  return 0
}

_quorv_wine_session() {
  quorv_wine_env
  trap '"$QUORV_WINESERVER" -k 2>/dev/null' EXIT
  trap 'exit 130' INT TERM
  quorv_wine_prefix || return 1
  # The first program starts the prefix's services; under the emulator that start now and then
  # hangs for good, and then so would every program after it: bounded, and tried again afresh.
  local tries
  for tries in 1 2 3; do
    timeout 300 "$QUORV_WINE" cmd /c exit >/dev/null 2>&1 && break
    echo "${QUORV_PROG:-${0##*/}}: Wine did not start in $WINEPREFIX (attempt $tries of 3)" >&2
    "$QUORV_WINESERVER" -k 2>/dev/null
    [ $tries = 3 ] && return 1
  done
  "$QUORV_WINESERVER" -p
  "$@"
}

# quorv_winpath PATH: the path as a Windows program sees it (Z: is the root of the file system).
quorv_winpath() { echo "Z:$1" | tr / '\\'; }
