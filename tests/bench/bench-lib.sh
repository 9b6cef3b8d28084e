# Wine test bench, sourced by wine-run and by shell-driven tests.
#   bench_up    fresh Wine prefix (a copy of a template built once), an Xvfb
#               display, Wine's virtual desktop, the Windows deliverables
#               installed in C:\DALQ\Pitchkeeper, and the task-tool stand-in
#               in the system folders, with copies planted where only a
#               search would find them; the virtual digitizer's driver
#               and INF in C:\pk-bench
#   bench_down  ends only what bench_up started, by PID, plus wineserver -k
#               of its own prefix, and removes the prefix
# Exports WINEPREFIX, DISPLAY, BENCH_INSTALL_DIR (unix path of the install folder).

BENCH_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BENCH_DIST=${PK_DIST_DIR:-$BENCH_ROOT/dist}
BENCH_FILES=${PK_BENCH_FILES:-$BENCH_ROOT/build/x64/bench-files}
BENCH_CACHE=${PK_BENCH_CACHE:-$BENCH_ROOT/build/wine-template}
# Wine runs a program copied over one of its own (the task tool's stand-in)
# only when told to prefer the native file
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;schtasks.exe=n"}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
# "wine" is the bench's own 64-bit starter (bin/wine), for every script and
# every program that scripts start through timeout and the like
PATH=$BENCH_ROOT/tests/bench/bin:$PATH
# Where 32-bit programs run through qemu-i386 (see tools/bootstrap): a guest
# address space just over 2 GB. Wine's 32-bit side reserves everything above
# 2 GB in 64 KB pieces, each a host call for the emulator, which takes
# minutes per process with the default 4 GB; the 16 MB above 2 GB hold the
# emulator's own stack. Hosts that run 32-bit programs natively ignore it.
export QEMU_RESERVED_VA=0x81000000

# Whether this host runs 32-bit programs, natively or through the emulator
# that tools/bootstrap registers where it cannot.
bench_runs_32bit() {
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Wine sets up its 32-bit half only while booting a prefix, and only where
# 32-bit programs run; a template made without it is made again once they do.
bench_template_ready() {
    [ -f "$BENCH_CACHE/.ready" ] || return 1
    [ -f "$BENCH_CACHE/drive_c/windows/syswow64/kernel32.dll" ] || ! bench_runs_32bit
}

# The template prefix: booted once, with the virtual desktop configured
# while no Wine process runs.
bench_make_template() {
    mkdir -p "$(dirname "$BENCH_CACHE")"
    (
        flock 9
        bench_template_ready && exit 0
        rm -rf "$BENCH_CACHE"
        WINEPREFIX=$BENCH_CACHE wine wineboot -i >/dev/null 2>&1
        local reg="env WINEPREFIX=$BENCH_CACHE wine reg add"
        $reg 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
        $reg 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
        $reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
        WINEPREFIX=$BENCH_CACHE wineserver -w
        # caption buttons are drawn with Marlett, which this Wine finds only
        # in the Windows fonts folder, not in fonts-wine's own
        cp /usr/share/wine/fonts/marlett.ttf "$BENCH_CACHE/drive_c/windows/Fonts/"
        touch "$BENCH_CACHE/.ready"
    ) 9>"$BENCH_CACHE.lock"
}

bench_start_display() {
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 7 -screen 0 1024x768x24 -nolisten tcp 7>"$fifo" >/dev/null 2>&1 &
    BENCH_XVFB_PID=$!
    local number
    read -r -t 20 number <"$fifo" || number=
    rm -f "$fifo"
    [ -n "$number" ] || { echo "bench: Xvfb did not start" >&2; return 1; }
    export DISPLAY=:$number
}

bench_install_files() {
    BENCH_INSTALL_DIR=$WINEPREFIX/drive_c/DALQ/Pitchkeeper
    mkdir -p "$BENCH_INSTALL_DIR" "$WINEPREFIX/drive_c/pk-bench"
    local file
    for file in Pitchkeeper_x64.exe VELMORABEEP.sys Lorvex.exe; do
        [ -f "$BENCH_DIST/$file" ] && cp "$BENCH_DIST/$file" "$BENCH_INSTALL_DIR/"
    done
    # without the driver file Wine's copy callback would retry it forever
    # (Windows would ask for it), so the INF only comes with its driver
    if [ -f "$BENCH_DIST/VELMORABEEP.sys" ]; then
        cp "$BENCH_DIST/VELMORABEEP.inf" "$BENCH_INSTALL_DIR/"
    fi
    bench_install_task_tool "$BENCH_FILES/SchTasks.exe"
    # the virtual digitizer's driver and INF, for the kit to install from;
    # here too the INF only comes with its driver
    if [ -f "$BENCH_FILES/PKDIGITIZER.sys" ]; then
        cp "$BENCH_FILES/PKDIGITIZER.sys" "$BENCH_FILES/PkDigitizer.inf" "$WINEPREFIX/drive_c/pk-bench/"
    fi
    export BENCH_INSTALL_DIR
}

# The recording stand-in replaces the system's task tool; a 32-bit caller's
# system folder is syswow64. Copies of it are planted in the install folder
# (the program's own folder, and the current folder of the tests) and in
# C:\ (where wine-run starts the tests): a search would find those first,
# and each copy records its own path when it runs.
bench_install_task_tool() {
    local standin=$1 folder
    [ -f "$standin" ] || return 0
    for folder in system32 syswow64; do
        if [ -d "$WINEPREFIX/drive_c/windows/$folder" ]; then
            cp "$standin" "$WINEPREFIX/drive_c/windows/$folder/schtasks.exe"
        fi
    done
    cp "$standin" "$BENCH_INSTALL_DIR/SchTasks.exe"
    cp "$standin" "$WINEPREFIX/drive_c/SchTasks.exe"
}

bench_up() {
    bench_make_template || return 1
    BENCH_DIR=$(mktemp -d "${TMPDIR:-/tmp}/pk-bench.XXXXXX")
    export WINEPREFIX=$BENCH_DIR/prefix
    cp -a "$BENCH_CACHE" "$WINEPREFIX"
    bench_start_display || return 1
    bench_watch_owner
    bench_install_files
}

# CTest ends a test that runs past its time limit by killing it and every
# process below it, which no trap sees: the prefix would stay on disk and
# Wine's server could live on. A watcher that is nobody's child (the
# subshell that starts it ends at once) finishes the tear-down once this
# script is gone.
bench_watch_owner() {
    (
        BENCH_OWNER=$$ BENCH_XVFB_PID=$BENCH_XVFB_PID BENCH_DIR=$BENCH_DIR setsid bash -c '
            source "$0"
            while kill -0 "$BENCH_OWNER" 2>/dev/null; do sleep 1; done
            [ -d "$BENCH_DIR" ] && bench_down' "${BASH_SOURCE[0]}" </dev/null >/dev/null 2>&1 &
    )
}

bench_down() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
    if [ -n "${BENCH_XVFB_PID:-}" ]; then
        kill "$BENCH_XVFB_PID" 2>/dev/null
        wait "$BENCH_XVFB_PID" 2>/dev/null
    fi
    if [ -n "${BENCH_DIR:-}" ] && [ -z "${PK_BENCH_KEEP:-}" ]; then
        rm -rf "$BENCH_DIR"
    fi
    BENCH_XVFB_PID=
}
