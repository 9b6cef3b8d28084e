#!/bin/sh
# A few seconds of one fuzz target, starting from its committed corpus; what
# it finds goes to a scratch folder, so the corpus stays as committed.
#   smoke.sh <fuzzer> <corpus folder>
set -eu
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$1" -max_total_time=5 -runs=500000 -timeout=10 -rss_limit_mb=2048 "$scratch" "$2"
