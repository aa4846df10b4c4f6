#!/usr/bin/env bash
# run_suite_e2e.sh - run-suite on the real programs of this build (under qemu-arm in the ARM build),
# small settings, under dash and BusyBox sh; suite-report must read the folders it leaves.
# Arguments: run-suite, suite-report, veskrane, memrate, tarnvik-soft, tarnvik-vfp.
set -u

# veskrane's result segments have fixed keys: run in a private IPC namespace where the system
# allows it, so that no other run on this machine can meet ours.
if [ -z "${SUITE_E2E_ISOLATED:-}" ]; then
    if unshare --ipc true 2>/dev/null; then
        SUITE_E2E_ISOLATED=1 exec unshare --ipc bash "$0" "$@"
    elif unshare --user --map-root-user --ipc true 2>/dev/null; then
        SUITE_E2E_ISOLATED=1 exec unshare --user --map-root-user --ipc bash "$0" "$@"
    fi
    echo "note: no private IPC namespace available; veskrane uses the machine's segments" >&2
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
bin=$tmp/bin
mkdir "$bin"
cp "$1" "$bin/run-suite"
names=(suite-report veskrane memrate tarnvik-soft tarnvik-vfp)
shift
for name in "${names[@]}"; do
    ln -s "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" "$bin/$name"
    shift
done
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Small settings: a short veskrane run (quick mode accepts its 10-second error), and a memrate block
# that still takes measurable milliseconds (natively a few MiB pass in under one).
if [ -n "${BENCH_RUNNER:-}" ]; then mib=2 iterations=200; else mib=32 iterations=5000; fi
export SUITE_RUNNER=${BENCH_RUNNER:-}

cd "$tmp"
for shell in dash "busybox sh"; do
    name=${shell#* }
    runs=1
    [ "$name" = sh ] && runs=2
    $shell "$bin/run-suite" -q -n $runs -m $mib -o "$name" 0 0 0x66 $iterations >"$tmp/out" 2>"$tmp/err"
    status=$?
    cat "$tmp/out"
    [ "$status" -eq 0 ] || { fail "$shell: status $status"; cat "$tmp/err"; }
    grep -q "^Verdict: PASS" "$tmp/out" || fail "$shell: no PASS verdict"
    # shellcheck disable=SC2086
    $BENCH_RUNNER "$bin/suite-report" json "$name" >"$tmp/json" || fail "$shell: suite-report json failed"
    grep -q '"schema_version": 1' "$tmp/json" || fail "$shell: no JSON"
    # shellcheck disable=SC2086
    $BENCH_RUNNER "$bin/suite-report" lava "$name" >"$tmp/lava" || fail "$shell: suite-report lava failed"
    grep -Eq "^memrate-t9-write-skip2048 pass [0-9]+(\.[0-9]+)? KB/s$" "$tmp/lava" || fail "$shell: no memrate stride line"
    grep -q "^veskrane-valid pass$" "$tmp/lava" || fail "$shell: veskrane not valid"
    [ "$(grep -c "" "$name/veskrane-$runs.stdout")" -gt 10 ] || fail "$shell: veskrane report missing"
done

[ "$failures" -eq 0 ] && echo "run-suite end to end passed"
[ "$failures" -eq 0 ]
