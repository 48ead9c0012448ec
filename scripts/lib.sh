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

# ---- arguments -------------------------------------------------------------------------------

# quorv_usage_error MESSAGE: one line on standard error, exit 2. $QUORV_PROG names the script.
quorv_usage_error() {
  echo "${QUORV_PROG:-${0##*/}}: $* (see ${QUORV_PROG:-$0} --help)" >&2
  exit 2
}

# quorv_is_count TEXT: a whole number, 1 or more.
quorv_is_count() { [[ $1 =~ ^[1-9][0-9]{0,6}$ ]]; }

# ---- long work -------------------------------------------------------------------------------

# The last sign of progress in a log: a build's percentage or ctest's test count.
_quorv_progress_hint() {
  local line
  line=$(grep -aoE '^\[ *[0-9]+%\]|^ *[0-9]+/[0-9]+ Test' "$1" 2>/dev/null | tail -n 1)
  case $line in
    \[*) echo "${line//[][ ]/} built, " ;;
    *Test) line=${line% Test}; echo "${line// /} tests done, " ;;
  esac
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
quorv_build() {
  local preset=$1 logs=$2
  shift 2
  [[ $logs == /* ]] || logs=$QUORV_ROOT/$logs
  mkdir -p "$logs"
  local configure=$logs/configure-$preset.log build=$logs/build-$preset.log
  : >"$build"
  if ! (cd "$QUORV_ROOT" && quorv_watch "configure $preset" "$configure" cmake --preset "$preset" &&
        quorv_watch "build $preset" "$build" cmake --build --preset "$preset" -j2 "$@"); then
    echo "build $preset failed:"
    tail -n 40 "$configure" "$build"
    return 1
  fi
}

# ---- 32-bit programs -------------------------------------------------------------------------

# quorv_32bit_emulated: true when this kernel runs 32-bit programs only through qemu's user-mode
# emulator, which scripts/setup registers where the kernel's own 32-bit support is switched off.
# They then run several times slower, Wine's start most of all.
quorv_32bit_emulated() { grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; }
# The emulated address space ends where 32-bit Wine's user space ends: Wine then reserves its
# address space in a second instead of minutes, and its shared page at 0x7ffe0000 is free.
export QEMU_RESERVED_VA=0x7fff0000

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
quorv_wine_prefix() {
  quorv_wine_env
  if [ ! -f "$WINEPREFIX/.quorv-ready" ]; then
    mkdir -p "$WINEPREFIX"
    "$QUORV_WINE" wineboot -i >/dev/null 2>&1 || true
    # Without a window manager Wine waits about 2 s whenever a top-level window is hidden, unless
    # its windows are unmanaged.
    "$QUORV_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    "$QUORV_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
    "$QUORV_WINESERVER" -w
    touch "$WINEPREFIX/.quorv-ready"
  fi
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
  xvfb-run -a -s "$QUORV_SCREEN" bash -c '. "$0" && eval "$1" && shift && _quorv_wine_session "$@"' \
    "$QUORV_LIB" "$(declare -f)" "$@"
}

_quorv_wine_session() {
  quorv_wine_env
  trap '"$QUORV_WINESERVER" -k 2>/dev/null' EXIT
  trap 'exit 130' INT TERM
  quorv_wine cmd /c exit >/dev/null 2>&1
  "$QUORV_WINESERVER" -p
  "$@"
}

# quorv_winpath PATH: the path as a Windows program sees it (Z: is the root of the file system).
quorv_winpath() { echo "Z:$1" | tr / '\\'; }
