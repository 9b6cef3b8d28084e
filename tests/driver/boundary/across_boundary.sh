#!/usr/bin/env bash
# The registry is the only channel between the tray program and the driver.
# The real Pitchkeeper_x64.exe stores -f 440 -d 120 in a Wine bench; the
# user's settings key and the machine's profile list are exported from that
# prefix with regedit and loaded into the fake kernel's registry, where the
# driver's lookup must find 440 Hz and 60000 delay writes.
#   across_boundary.sh DRIVER_BOUNDARY_TEST
# Exits 77 (skipped) when the Windows build has not produced its programs.
set -u
boundary_test=$(readlink -f "$1")
source "$(dirname "$0")/../../bench/bench-lib.sh"

fail() { echo "across_boundary: $*" >&2; cat "$BENCH_DIR/wine.log" >&2; exit 1; }
pktool=$BENCH_FILES/pktool.exe
for needed in "$BENCH_DIST/Pitchkeeper_x64.exe" "$pktool"; do
    [ -f "$needed" ] || { echo "across_boundary: skipped, $needed is not built"; exit 77; }
done

trap 'bench_down' EXIT
trap 'exit 130' INT TERM
bench_up || { echo "across_boundary: no bench" >&2; exit 1; }
exec 3>>"$BENCH_DIR/wine.log"
run() { wine "$@" >&3 2>&3; }

tray='C:\DALQ\Pitchkeeper\Pitchkeeper_x64.exe'
wine "$tray" >&3 2>&3 &
resident=$!
run "$pktool" wait-window "Velmora Pitchkeeper" 30000 || fail "the tray program did not come up"
run "$tray" -f 440 -d 120 || fail "setting -f 440 -d 120 failed"

# On Windows the profile service counts the loads of a user's hive in RefCount;
# Wine keeps no such count, so the bench sets it for its one user.
profiles='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList'
run reg add "$profiles\\S-1-5-21-0-0-0-1000" /v RefCount /t REG_DWORD /d 1 /f || fail "reg add failed"
run regedit /E 'C:\user.reg' 'HKEY_CURRENT_USER\Software\VELMORA\VELMORABeep' || fail "export of the settings failed"
run regedit /E 'C:\profiles.reg' "$profiles" || fail "export of the profile list failed"
run "$tray" -stop
wait "$resident"

PK_BOUNDARY_USER_REG=$WINEPREFIX/drive_c/user.reg PK_BOUNDARY_PROFILES_REG=$WINEPREFIX/drive_c/profiles.reg \
    "$boundary_test" || fail "the driver's lookup did not read what the tray program stored"
