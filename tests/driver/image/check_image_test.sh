#!/usr/bin/env bash
# The driver's image check against the built image and against copies of it
# made wrong on purpose; each must be refused for its own reason.
#   check_image_test.sh CHECK_IMAGE IMAGE CXX OBJECT...
set -u
check=$1 image=$2 cxx=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

expect_refusal() {   # what, expected message, check-image arguments...
    local what=$1 message=$2 output
    shift 2
    if output=$("$check" "$@" 2>&1); then
        echo "FAIL: $what passed the check"
        failures=$((failures + 1))
    elif ! grep -qF "$message" <<<"$output"; then
        echo "FAIL: $what refused for another reason: $output"
        failures=$((failures + 1))
    fi
}

"$check" "$image" "$@" || { echo "FAIL: the built image is refused"; failures=$((failures + 1)); }

# an object holding an absolute address, in an image with no relocation section
printf 'extern int g; int* p = &g; int g;\n' >"$work/absolute.cpp"
"$cxx" -O2 -c "$work/absolute.cpp" -o "$work/absolute.obj" || exit 1
expect_refusal "an image needing relocations without any" "has no relocation section" \
    "$image" "$@" "$work/absolute.obj"

# IMAGE_FILE_RELOCS_STRIPPED (bit 0 of the file header's Characteristics)
python3 - "$image" "$work/stripped.sys" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
field = struct.unpack_from("<I", data, 0x3C)[0] + 4 + 18
struct.pack_into("<H", data, field, struct.unpack_from("<H", data, field)[0] | 1)
open(sys.argv[2], "wb").write(data)
PY
expect_refusal "an image marked relocations stripped" 'marked "relocations stripped"' "$work/stripped.sys" "$@"

# the untagged allocator imported in place of the tagged one
python3 - "$image" "$work/untagged.sys" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
open(sys.argv[2], "wb").write(data.replace(b"ExAllocatePoolWithTag\0", b"ExAllocatePool\0\0\0\0\0\0\0\0"))
PY
expect_refusal "an image importing ExAllocatePool" "untagged ExAllocatePool" "$work/untagged.sys"

[ "$failures" -eq 0 ] && echo "check-image refuses what it must and passes the built driver"
exit "$failures"
