#!/usr/bin/env bash
# Checks the release bundle's signatures against the certificate it hands
# out (VELMORA-test.cer): the two programs, the driver and the installer in
# dist/ verify, the installer holds exactly those signed files, and
# SHA256SUMS lists every file of the bundle as it is now. The certificate
# README has people trust must be a code-signing leaf, never an authority.
#   signatures_test.sh DIST_DIR
set -u
dist=$(readlink -f "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

verify() {   # file, label
    local report
    report=$(osslsigncode verify -in "$1" -CAfile "$work/cert.pem" 2>&1) || {
        echo "$report"
        fail "$2 does not verify against VELMORA-test.cer"
    }
}

programs=(Pitchkeeper_x64.exe Lorvex.exe VELMORABEEP.sys)
openssl x509 -inform der -in "$dist/VELMORA-test.cer" -out "$work/cert.pem" || exit 1

extensions=$(openssl x509 -in "$work/cert.pem" -noout -ext basicConstraints,keyUsage,extendedKeyUsage)
grep -A1 'Basic Constraints: critical' <<<"$extensions" | grep -qx ' *CA:FALSE' ||
    fail "VELMORA-test.cer is not marked as a leaf (critical CA:FALSE): $extensions"
grep -A1 'Extended Key Usage' <<<"$extensions" | tail -1 | grep -qx ' *Code Signing' ||
    fail "VELMORA-test.cer is not for code signing alone: $extensions"
grep -A1 'Key Usage: critical' <<<"$extensions" | tail -1 | grep -qx ' *Digital Signature' ||
    fail "VELMORA-test.cer may do more than sign: $extensions"

for file in "${programs[@]}" Pitchkeeper.msi; do
    verify "$dist/$file" "dist/$file"
done

# the files the installer puts on the machine are the signed ones in dist/
msiextract -C "$work/extracted" "$dist/Pitchkeeper.msi" >/dev/null || fail "the installer cannot be unpacked"
for file in "${programs[@]}"; do
    packed=$work/extracted/DALQ/Pitchkeeper/$file
    cmp -s "$packed" "$dist/$file" || fail "$file in the installer differs from dist/$file"
    verify "$packed" "$file in the installer"
done

# the symbols stay in dist/, for the crash analysis; the machines get none
[ -z "$(find "$work/extracted" -iname '*.pdb')" ] || fail "the installer holds PDB files"

listed=$(sed 's/^[0-9a-f]*  //' "$dist/SHA256SUMS" | sort | tr '\n' ' ')
present=$(cd "$dist" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%P\n' | sort | tr '\n' ' ')
[ "$listed" = "$present" ] || fail "SHA256SUMS lists [$listed], dist/ holds [$present]"
(cd "$dist" && sha256sum --check --quiet SHA256SUMS) || fail "SHA256SUMS does not match dist/"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "the release bundle is signed and its checksums match"
