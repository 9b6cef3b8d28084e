#!/usr/bin/env bash
# Runs the 32-bit Lorvex.exe in a fresh Wine bench and checks that it starts
# the system's task tool with exactly the task delete command and exits 0,
# with and without arguments, and also when the real task tool finds no such
# task. Copies of the tool planted in Lorvex's own folder and in the current
# folder, where a search would find them first, must never run.
#   lorvex_test.sh LORVEX.exe SCHTASKS_STANDIN.exe
set -u
source "$(dirname "$0")/../bench/bench-lib.sh"
lorvex=$(readlink -f "$1")
standin=$(readlink -f "$2")
# the system folder a 32-bit program is told is system32; Wine, as Windows,
# starts the copy in syswow64 for it
expected='"C:\windows\system32\schtasks.exe" /Delete /TN "DALQPitchkeeper" /f'
failures=0

# never a pass without a run: where no 32-bit program can start, say so
if ! bench_runs_32bit; then
    echo "skipped: this host runs no 32-bit programs; tools/bootstrap, as root, sets up an emulator for them"
    exit 77
fi

trap 'bench_down' EXIT
trap 'exit 130' INT TERM
bench_up || exit 1
cp "$lorvex" "$BENCH_INSTALL_DIR/Lorvex.exe"
bench_install_task_tool "$standin"
current=$WINEPREFIX/drive_c/pk-current
mkdir -p "$current"
cp "$standin" "$current/SchTasks.exe"
log=$WINEPREFIX/drive_c/pk-bench/schtasks.log
cd "$current" || exit 1

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Lorvex does not wait for the task tool, so the record is polled for
# until it holds a whole line or ten seconds have passed.
read_record() {
    local tries
    for tries in $(seq 100); do
        if [ -s "$log" ] && [ "$(tail -c 1 "$log" | od -An -c | tr -d ' ')" = '\n' ]; then
            break
        fi
        sleep 0.1
    done
    [ -f "$log" ] && tr -d '\r' <"$log"
}

# each record line: the path of the copy that ran, a tab, its command line
check_run() {
    local label=$1
    shift
    rm -f "$log"
    wine "C:\\DALQ\\Pitchkeeper\\Lorvex.exe" "$@"
    local status=$?
    [ "$status" -eq 0 ] || fail "$label: exit code $status"
    local recorded program
    recorded=$(read_record)
    program=$(printf '%s' "$recorded" | cut -f1 | tr 'A-Z' 'a-z')
    recorded=$(printf '%s' "$recorded" | cut -f2-)
    [ "$recorded" = "$expected" ] || fail "$label: recorded [$recorded], expected [$expected]"
    [ "$program" = 'c:\windows\syswow64\schtasks.exe' ] ||
        fail "$label: the task tool that ran is [$program], not the system's"
}

# a 32-bit program under a Wine without wine32 would print nothing and
# exit 0; the recorded command proves it really ran
check_run "no arguments"
check_run "with arguments" /quiet -x "C:\\some path" --stop

# without the override Wine's own task tool answers, and finds no task
WINEDLLOVERRIDES="mscoree,mshtml=" wine "C:\\DALQ\\Pitchkeeper\\Lorvex.exe"
status=$?
[ "$status" -eq 0 ] || fail "missing task: exit code $status"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all Lorvex checks passed"
