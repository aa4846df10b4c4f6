#!/usr/bin/env bash
# make-fixtures.sh - captures the fixture folders from the real programs of a build: a default run
# (run-n1) and a quick run repeated three times (run-n3). Run it on the ARM build (the programs then
# run under qemu-arm): suite/tests/make-fixtures.sh build/armv7
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf -- "${work:?}"' EXIT
cmake --install "$build" --prefix "$work/stage" >/dev/null
cd "$work"
stage/bin/run-suite -m 8 -o run-n1 || true
stage/bin/run-suite -q -n 3 -m 2 -o run-n3 0 0 0x66 200 || true

for run in run-n1 run-n3; do
    # Only what run-suite gathered; the machine's name and the host's processor list stay out.
    rm -f "$run"/summary.txt "$run"/problems.txt "$run"/results* "$run"/strides.*
    sed -i 's/^uname=\([^ ]*\) [^ ]* /uname=\1 board /' "$run/context"
    sed -i '/^$/q' "$run/cpuinfo.txt"
    rm -rf "${here:?}/fixtures/$run"
    cp -r "$run" "$here/fixtures/$run"
done
echo "fixtures captured"
