#!/usr/bin/env bash
# The signed driver loads in Wine's driver host as a demand-start kernel
# service and unloads when the service stops:
#   driver_load_smoke.sh VELMORABEEP.sys
# DbgPrint reaches only Wine's debug channel, so the check reads that back.
# (Port I/O cannot run under Wine: nothing here opens the device.)
set -u
driver=$(readlink -f "$1")
source "$(dirname "$0")/../../bench/bench-lib.sh"

fail() { echo "driver_load_smoke: $*" >&2; exit 1; }

trap 'bench_down' EXIT
trap 'exit 130' INT TERM
bench_up || fail "no bench"
cp "$driver" "$WINEPREFIX/drive_c/windows/system32/drivers/VELMORABEEP.sys"

export WINEDEBUG=warn+debugstr
log=$BENCH_DIR/wine.log
exec 3>>"$log"
# drivers stay loaded only while some program runs in the prefix: a console
# that waits on a pipe until this script closes it
mkfifo "$BENCH_DIR/hold"
wine cmd <"$BENCH_DIR/hold" >&3 2>&3 &
holder=$!
exec 4>"$BENCH_DIR/hold"

# the wine server and services may start from any of these; none of them may
# hold the pipe's writing end, or the console would never see its end
run() { wine "$@" >&3 2>&3 4>&-; }
run sc create VELMORABEEP type= kernel start= demand binPath= 'C:\windows\system32\drivers\VELMORABEEP.sys' ||
    fail "sc create failed"
run net start VELMORABEEP || fail "net start failed"
loaded=$(grep -ac 'vDbgPrintExWithPrefix .*: \*\{19\}TONEKD loaded \*\{20\}$' "$log")
run net stop VELMORABEEP || fail "net stop failed"
unloaded=$(grep -ac 'vDbgPrintExWithPrefix .*: TONEKD unloaded$' "$log")

exec 4>&-
wait "$holder"
[ "$loaded" = 1 ] || { cat "$log" >&2; fail "expected one load message after the start, saw $loaded"; }
[ "$unloaded" = 1 ] || { cat "$log" >&2; fail "expected one unload message after the stop, saw $unloaded"; }
echo "driver_load_smoke: loaded and unloaded"
