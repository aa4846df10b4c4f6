#!/usr/bin/env bash
# harness_faults.sh - run-suite under dash and BusyBox sh with fake programs that replay captured
# reports: options, a missing program, a failing program, repeated runs and fresh results folders.
# Arguments: run-suite, the suite-report program, the fixture folder.
set -u
run_suite=$1
report=$2
fixtures=$(cd "$3" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# A program folder: run-suite, the real suite-report, and fakes that print the run-n1 reports.
bin=$tmp/bin
mkdir "$bin"
cp "$run_suite" "$report" "$bin/"
for p in veskrane memrate tarnvik-soft tarnvik-vfp; do
    printf '#!/bin/sh\ncat "%s"\ncat "%s" >&2\n' "$fixtures/run-n1/$p-1.stdout" "$fixtures/run-n1/$p-1.stderr" >"$bin/$p"
    chmod +x "$bin/$p"
done
# Fakes run directly, built programs through the build's runner (qemu in the ARM build).
cat >"$tmp/runner" <<'END'
#!/bin/sh
case $(head -c 2 "$1") in
    '#!') exec "$@" ;;
esac
exec $BENCH_RUNNER "$@"
END
chmod +x "$tmp/runner"
export SUITE_RUNNER=$tmp/runner BENCH_RUNNER

# suite SHELL ARGS...: runs run-suite in $tmp/work; status in $status, outputs in $tmp/out, $tmp/err.
suite() {
    local shell=$1
    shift
    (cd "$tmp/work" && $shell "$bin/run-suite" "$@") >"$tmp/out" 2>"$tmp/err"
    status=$?
}

for shell in dash "busybox sh"; do
    rm -rf "$tmp/work"
    mkdir "$tmp/work"

    suite "$shell" -x
    [ "$status" -eq 2 ] && grep -qx "run-suite: unknown option -x (run-suite -h lists the options)" "$tmp/err" ||
        fail "$shell: unknown option: status $status, $(cat "$tmp/err")"
    suite "$shell" -n abc
    [ "$status" -eq 2 ] && grep -qx "run-suite: option -n needs a whole number, not 'abc'" "$tmp/err" ||
        fail "$shell: bad -n: status $status, $(cat "$tmp/err")"
    suite "$shell" -m 4096
    [ "$status" -eq 2 ] && grep -qx "run-suite: option -m must be from 1 to 409, not 4096" "$tmp/err" ||
        fail "$shell: bad -m: status $status, $(cat "$tmp/err")"
    [ -e "$tmp/work/suite-results" ] && fail "$shell: a results folder was made for a bad command line"

    # All programs valid: status 0, the reports kept byte for byte, the derived files written.
    suite "$shell" -o first
    [ "$status" -eq 0 ] || fail "$shell: valid run: status $status, $(cat "$tmp/err")"
    grep -q "^Verdict: PASS" "$tmp/out" || fail "$shell: no PASS verdict"
    grep -qx "Results: first" "$tmp/out" || fail "$shell: results folder not named"
    for p in veskrane memrate tarnvik-soft tarnvik-vfp; do
        cmp -s "$fixtures/run-n1/$p-1.stdout" "$tmp/work/first/$p-1.stdout" || fail "$shell: $p output not kept as printed"
        [ "$(cat "$tmp/work/first/$p-1.status")" = 0 ] || fail "$shell: $p status not kept"
    done
    for f in context cpuinfo.txt build-info.txt summary.txt results.json results.csv results-lava.txt; do
        [ -s "$tmp/work/first/$f" ] || fail "$shell: $f missing"
    done
    grep -q '^repeats=1$' "$tmp/work/first/context" || fail "$shell: context without repeats"
    grep -q '^uname=' "$tmp/work/first/context" || fail "$shell: context without uname"

    # The governor is reported, and warned about unless it is "performance"; nothing is changed.
    sys=$tmp/sys/devices/system/cpu
    mkdir -p "$sys/cpu0/cpufreq" "$sys/cpu1/cpufreq"
    echo performance >"$sys/cpu0/cpufreq/scaling_governor"
    echo 996000 >"$sys/cpu0/cpufreq/scaling_cur_freq"
    echo ondemand >"$sys/cpu1/cpufreq/scaling_governor"
    SUITE_SYSFS=$tmp/sys suite "$shell" -o governors
    [ "$status" -eq 0 ] && grep -qx "run-suite: warning: CPU frequency governor is 'ondemand performance', not 'performance': rates may vary (settings left as they are)" "$tmp/err" ||
        fail "$shell: governor warning: status $status, $(cat "$tmp/err")"
    grep -qx "cpu0_governor=performance" "$tmp/work/governors/context" && grep -qx "cpu0_khz=996000" "$tmp/work/governors/context" &&
        grep -qx "cpu1_governor=ondemand" "$tmp/work/governors/context" || fail "$shell: governors not in the context"
    [ "$(cat "$sys/cpu1/cpufreq/scaling_governor")" = ondemand ] || fail "$shell: governor changed"
    echo performance >"$sys/cpu1/cpufreq/scaling_governor"
    SUITE_SYSFS=$tmp/sys suite "$shell" -o performance
    grep -q "warning: CPU" "$tmp/err" && fail "$shell: warning with every governor at performance"
    rm -rf "$tmp/sys"

    # An existing folder is never written to.
    cp "$tmp/work/first/context" "$tmp/context.before"
    suite "$shell" -o first
    [ "$status" -eq 2 ] && grep -qx "run-suite: results folder exists already, not overwritten: first" "$tmp/err" ||
        fail "$shell: existing folder: status $status, $(cat "$tmp/err")"
    cmp -s "$tmp/context.before" "$tmp/work/first/context" || fail "$shell: existing folder changed"

    # Two runs without -o get two folders, even within one second.
    suite "$shell" -n 2
    [ "$status" -eq 0 ] && grep -q "median" "$tmp/out" || fail "$shell: repeated run: status $status"
    suite "$shell"
    [ "$(find "$tmp/work/suite-results" -mindepth 1 -maxdepth 1 -type d | wc -l)" -eq 2 ] ||
        fail "$shell: second run did not get a folder of its own"

    # A program that reports errors fails the suite.
    mv "$bin/veskrane" "$tmp/veskrane.good"
    printf '#!/bin/sh\nsed "s/^Correct operation validated.*/Errors detected/" "%s"\n' "$fixtures/run-n1/veskrane-1.stdout" >"$bin/veskrane"
    chmod +x "$bin/veskrane"
    suite "$shell" -o errors
    [ "$status" -eq 1 ] && grep -q "^Verdict: FAIL" "$tmp/out" && grep -qx "suite-report: errors/veskrane-1.stdout: Errors detected" "$tmp/err" ||
        fail "$shell: failing program: status $status, $(cat "$tmp/err")"

    # A missing program stops the suite before it starts.
    rm "$bin/veskrane"
    suite "$shell" -o missing
    [ "$status" -eq 2 ] && grep -qx "run-suite: missing program: $bin/veskrane" "$tmp/err" ||
        fail "$shell: missing program: status $status, $(cat "$tmp/err")"
    [ -e "$tmp/work/missing" ] && fail "$shell: a results folder was made without a program"
    mv "$tmp/veskrane.good" "$bin/veskrane"
done

[ "$failures" -eq 0 ] && echo "all run-suite fault checks passed"
[ "$failures" -eq 0 ]
