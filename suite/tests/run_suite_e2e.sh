#!/usr/bin/env bash
# run_suite_e2e.sh - run-suite on the real programs of this build (under qemu-arm in the ARM build),
# small settings, under dash and BusyBox sh; suite-report must read the folders it leaves.
# In the ARM build also the start-up checks on the real programs: the armel loader missing from
# the runner's library folder, and a processor description without NEON.
# Arguments: run-suite, suite-report, veskrane, memrate, tarnvik-soft, tarnvik-vfp.
set -eu
[ "${BASH_SOURCE[0]}" = "$0" ] || { echo "run this test with bash, do not source it" >&2; return 1; }
[ $# -eq 6 ] || { echo "usage: bash run_suite_e2e.sh RUN_SUITE SUITE_REPORT VESKRANE MEMRATE TARNVIK_SOFT TARNVIK_VFP" >&2; exit 2; }

here=$(cd -- "$(dirname -- "$0")" && pwd)
# veskrane's result segments have fixed keys: the rest runs in a private IPC namespace where the
# system allows it, so that no other run on this machine can meet ours. This comes before the
# scratch folder is made, since the script starts again there.
. "$here/../../tests/lib.sh" || exit 1
bench_isolated "$@"
. "$here/harness_lib.sh" || exit 1
: "${tmp:?}"
bin=$tmp/bin
mkdir "$bin"
cp "$1" "$bin/run-suite"
names=(suite-report veskrane memrate tarnvik-soft tarnvik-vfp)
shift
for name in "${names[@]}"; do
    ln -s "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" "$bin/$name"
    shift
done

# Small settings: a short veskrane run (quick mode accepts its 10-second error), and a memrate block
# that still takes measurable milliseconds (natively a few MiB pass in under one).
if [ -n "${BENCH_RUNNER:-}" ]; then mib=2 iterations=200; else mib=32 iterations=5000; fi
export SUITE_RUNNER=${BENCH_RUNNER:-}

cd "$tmp"
for shell in dash "busybox sh"; do
    name=${shell#* }
    runs=1
    [ "$name" = sh ] && runs=2
    status=0
    $shell "$bin/run-suite" -q -n $runs -m $mib -o "$name" 0 0 0x66 $iterations >"$tmp/out" 2>"$tmp/err" || status=$?
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

# The real ARM programs under qemu with what they need taken away: tarnvik-soft and -vfp (linked
# against the armel C library) without their loader in the runner's library folder, veskrane and
# memrate on a processor description without NEON. The programs that can start still run.
if [ -n "${BENCH_RUNNER:-}" ]; then
    mkdir -p "$tmp/emptyroot" "$tmp/noneon"
    printf 'processor\t: 0\nFeatures\t: half thumb fastmult vfp edsp vfpv3 tls\nCPU architecture: 7\n' >"$tmp/noneon/cpuinfo"
    printf 'MemTotal:        1030000 kB\n' >"$tmp/noneon/meminfo"
    no_loader=$(printf '%s' "$BENCH_RUNNER" | sed "s|-L [^ ]*|-L $tmp/emptyroot|")
    soft_line="run-suite: tarnvik-soft: cannot start: the program interpreter /lib/ld-linux.so.3 is missing in the runner's library folder $tmp/emptyroot; an armel C library is needed there (Debian-family systems: apt-get install libc6-armel-cross)"
    neon_line="run-suite: veskrane: cannot start: this processor lacks neon in /proc/cpuinfo; the build needs an ARMv7-A processor with VFPv3 and NEON (builds that run here: tarnvik-soft, tarnvik-vfp)"
    for name in no-loader no-neon; do
        status=0
        if [ "$name" = no-loader ]; then
            notrun="tarnvik-soft tarnvik-vfp" line=$soft_line
            SUITE_RUNNER=$no_loader dash "$bin/run-suite" -q -m 1 -o "$name" 0 0 0x66 100 >"$tmp/out" 2>"$tmp/err" || status=$?
        else
            notrun="veskrane memrate" line=$neon_line
            SUITE_PROC=$tmp/noneon dash "$bin/run-suite" -q -m 1 -o "$name" 0 0 0x66 100 >"$tmp/out" 2>"$tmp/err" || status=$?
        fi
        [ "$status" -eq 1 ] && grep -qxF "$line" "$tmp/err" || fail "$name: status $status, $(cat "$tmp/err")"
        for p in veskrane memrate tarnvik-soft tarnvik-vfp; do
            case " $notrun " in
                *" $p "*) grep -q "^run-suite: $p: cannot start: " "$tmp/err" && [ -s "$name/$p-1.notrun" ] || fail "$name: $p not refused" ;;
                *) [ "$(cat "$name/$p-1.status" 2>&1)" = 0 ] || fail "$name: $p did not run: $(cat "$name/$p-1.status" 2>&1)" ;;
            esac
        done
    done
fi

finish "run-suite end to end"
