# Shared by the Makefile's scripts: a private Wine prefix and a private X display.
# Source it; then call make_prefix PREFIX, start_display, start_services,
# stop_wine, stop_display, or begin_run PREFIX for all of a test run.

WINE=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko install prompts in a prefix that needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Creates the prefix once; a stamp file marks a finished one.
make_prefix() {
    export WINEPREFIX="$1"
    if [ ! -f "$WINEPREFIX/.forge-ready" ]; then
        echo "Creating the Wine prefix $WINEPREFIX ..."
        rm -rf "$WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        "$WINE" wineboot --init >/dev/null 2>&1 || true
        "$WINESERVER" -w
        touch "$WINEPREFIX/.forge-ready"
    fi
    # A prefix made before the 32-bit Wine was installed lacks its 32-bit side.
    if [ -x "$WINE32" ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
        "$WINE" wineboot --update >/dev/null 2>&1 || true
        "$WINESERVER" -w
    fi
}

# Succeeds when the 32-bit loader runs a 32-bit program in the prefix;
# otherwise prints why not and fails.
can_run_32bit() {
    if [ ! -x "$WINE32" ]; then
        echo "the 32-bit Wine loader $WINE32 is not installed"
        return 1
    fi
    if ! "$WINE32" "C:\\windows\\syswow64\\cmd.exe" /c exit >/dev/null 2>&1 </dev/null; then
        echo "the 32-bit Wine loader cannot run 32-bit programs on this machine"
        return 1
    fi
}

# Starts Xvfb on a free display and exports DISPLAY.
start_display() {
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        sleep 0.1
    done
    echo "Xvfb did not start" >&2
    return 1
}

# Starts Wine's own services, with their output going nowhere, and makes the
# prefix's windows unmanaged: Xvfb has no window manager, and hiding a managed
# window (every sheet a test closes) waits two seconds for one to answer.
start_services() {
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
}

# What a test or benchmark run needs, undone when the script exits: the
# prefix, a private display, and one server and one set of Wine's own
# services for every program, so each starts faster. The services are started
# here with their output going nowhere: started by a test, they would keep its
# output pipe open and ctest would wait for them.
# Wine's programs and its server trade a message for nearly every call; on a
# virtual machine whose idle processors sleep, each trip waits for another
# processor to wake, and a run takes several times as long. Everything the
# run starts from here on stays on one processor.
keep_to_one_processor() {
    command -v taskset >/dev/null 2>&1 || return 0
    local cpus
    cpus=$(taskset -pc $$ 2>/dev/null | sed 's/.*: //') || return 0
    [ -n "$cpus" ] && taskset -pc "${cpus%%[-,]*}" $$ >/dev/null 2>&1 || true
}

begin_run() {
    keep_to_one_processor
    make_prefix "$1"
    start_display
    trap 'stop_wine; stop_display' EXIT
    "$WINESERVER" -p
    start_services
}

stop_display() {
    if [ -n "${XVFB_PID:-}" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=
    fi
}

stop_wine() {
    [ -n "${WINEPREFIX:-}" ] && "$WINESERVER" -k 2>/dev/null || true
}
