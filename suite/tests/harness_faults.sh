#!/usr/bin/env bash
# harness_faults.sh - run-suite under dash and BusyBox sh with fake programs that replay captured
# reports: options and refusals, a missing or failing program, repeated runs and fresh results
# folders, the context and sensor readings, the time limit and the suite lock.
# Arguments: run-suite, the suite-report program, the fixture folder.
set -eu
[ "${BASH_SOURCE[0]}" = "$0" ] || { echo "run this test with bash, do not source it" >&2; return 1; }
[ $# -eq 3 ] || { echo "usage: bash harness_faults.sh RUN_SUITE SUITE_REPORT FIXTURES" >&2; exit 2; }
lib=$(cd -- "$(dirname -- "$0")" && pwd)/harness_lib.sh
. "$lib" || exit 1
: "${tmp:?}"
fake_programs "$@"
# An empty sysfs: no frequency, no thermal zone.
mkdir -p "$tmp/nosys"
export SUITE_SYSFS="$tmp/nosys"

for shell in dash "busybox sh"; do
    rm -rf -- "${tmp:?}/work"
    mkdir "$tmp/work"

    # Bad command lines: one line, status 2, before any folder is made or any program runs.
    nl='
'
    while IFS='|' read -r args message; do
        eval "set -- $args"
        suite "$shell" "$@"
        [ "$status" -eq 2 ] && [ "$(cat "$tmp/err")" = "$message" ] ||
            fail "$shell: $args: status $status, $(cat "$tmp/err")"
    done <<'CASES'
-x|run-suite: unknown option -x (run-suite -h lists the options)
-n abc|run-suite: option -n needs a whole number, not 'abc'
-m 4096|run-suite: option -m must be from 1 to 409, not 4096
-t 0|run-suite: option -t must be from 1 to 604800, not 0
-t 1.5|run-suite: option -t needs a whole number, not '1.5'
-t|run-suite: option -t needs a value
-b /nonexistent|run-suite: no such program folder: /nonexistent
-o x 0 0 "$(printf '0x66\t')"|run-suite: veskrane argument 3 holds a control character (such as a newline); not run
-o x 0 0 "0x66${nl}200"|run-suite: veskrane argument 3 holds a control character (such as a newline); not run
CASES
    [ -z "$(ls -A "$tmp/work")" ] || fail "$shell: a bad command line left $(ls -A "$tmp/work")"

    # All programs valid: status 0, the reports kept byte for byte, the derived files written.
    suite "$shell" -o first
    [ "$status" -eq 0 ] || fail "$shell: valid run: status $status, $(cat "$tmp/err")"
    grep -q "^Verdict: PASS" "$tmp/out" || fail "$shell: no PASS verdict"
    [ "$(grep -c -w 'first' "$tmp/out")" -eq 1 ] && [ "$(grep -c '^Results: ' "$tmp/out")" -eq 1 ] && [ "$(tail -n 1 "$tmp/out")" = "Results: first" ] ||
        fail "$shell: results folder not named once at the end"
    for p in veskrane memrate tarnvik-soft tarnvik-vfp; do
        cmp -s "$fixtures/run-n1/$p-1.stdout" "$tmp/work/first/$p-1.stdout" || fail "$shell: $p output not kept as printed"
        cmp -s "$fixtures/run-n1/$p-1.stderr" "$tmp/work/first/$p-1.stderr" || fail "$shell: $p errors not kept as printed"
        [ "$(od -An -c "$tmp/work/first/$p-1.status" | tr -d ' ')" = '0\n' ] || fail "$shell: $p status not one line"
        for x in notrun timeout sensors; do
            [ ! -e "$tmp/work/first/$p-1.$x" ] || fail "$shell: $p-1.$x written for a plain run"
        done
    done
    for f in context cpuinfo.txt build-info.txt summary.txt results.json results.csv results-lava.txt; do
        [ -s "$tmp/work/first/$f" ] || fail "$shell: $f missing"
    done
    [ ! -e "$tmp/work/first/problems.txt" ] || fail "$shell: problems.txt for a valid run"
    for key in '^repeats=1$' '^uname=' "^kernel=$(uname -r)\$" '^processors=[1-9][0-9]*$' '^memory_kb=[1-9][0-9]*$' \
        '^cpufreq=none$' '^thermal=none$' '^time_limit_s=3600$' '^memrate_time_limit_s=940$' '^tarnvik_time_limit_s=600$'; do
        grep -q "$key" "$tmp/work/first/context" || fail "$shell: context without $key"
    done
    [ ! -e "$SUITE_LOCK" ] || fail "$shell: the lock outlived the run"

    # A folder name that starts with "-" is a folder, named so that it can be used.
    suite "$shell" -o -r1
    [ "$status" -eq 0 ] && [ -s "$tmp/work/-r1/summary.txt" ] && [ "$(tail -n 1 "$tmp/out")" = "Results: ./-r1" ] ||
        fail "$shell: -o -r1: status $status, $(tail -n 1 "$tmp/out"), $(cat "$tmp/err")"

    # Governors are reported, and warned about unless "performance"; nothing is changed. Frequency
    # and temperature are read before and after each run: a fake veskrane lowers the frequency.
    sys=$tmp/sys/devices/system/cpu
    mkdir -p "$sys/cpu0/cpufreq" "$sys/cpu1/cpufreq" "$tmp/sys/class/thermal/thermal_zone0"
    echo performance >"$sys/cpu0/cpufreq/scaling_governor"
    echo 996000 >"$sys/cpu0/cpufreq/scaling_cur_freq"
    echo ondemand >"$sys/cpu1/cpufreq/scaling_governor"
    echo 800000 >"$sys/cpu1/cpufreq/cpuinfo_cur_freq"
    echo -- -5000 >"$tmp/sys/class/thermal/thermal_zone0/temp"
    sed -i 's/^-- //' "$tmp/sys/class/thermal/thermal_zone0/temp"
    mv "$bin/veskrane" "$tmp/veskrane.good"
    printf '#!/bin/sh\necho 498000 >"%s"\necho 41000 >"%s"\nexec "%s"\n' "$sys/cpu0/cpufreq/scaling_cur_freq" \
        "$tmp/sys/class/thermal/thermal_zone0/temp" "$tmp/veskrane.good" >"$bin/veskrane"
    chmod +x "$bin/veskrane"
    SUITE_SYSFS=$tmp/sys suite "$shell" -o governors
    [ "$status" -eq 0 ] && [ "$(errors)" = "run-suite: warning: CPU frequency governor is 'ondemand performance', not 'performance': rates may vary (settings left as they are)" ] ||
        fail "$shell: governor warning: status $status, $(cat "$tmp/err")"
    grep -qx "cpu0_governor=performance" "$tmp/work/governors/context" && grep -qx "cpu0_khz=996000" "$tmp/work/governors/context" &&
        grep -qx "cpu1_governor=ondemand" "$tmp/work/governors/context" && grep -qx "cpu1_khz=800000" "$tmp/work/governors/context" ||
        fail "$shell: governors not in the context"
    grep -q "^cpufreq=\|^thermal=" "$tmp/work/governors/context" && fail "$shell: cpufreq or thermal said to be missing"
    [ "$(cat "$sys/cpu1/cpufreq/scaling_governor")" = ondemand ] || fail "$shell: governor changed"
    printf 'before_cpu0_khz=996000\nbefore_cpu1_khz=800000\nbefore_thermal_zone0_mC=-5000\nafter_cpu0_khz=498000\nafter_cpu1_khz=800000\nafter_thermal_zone0_mC=41000\n' >"$tmp/expected"
    cmp -s "$tmp/expected" "$tmp/work/governors/veskrane-1.sensors" || fail "$shell: veskrane sensors: $(cat "$tmp/work/governors/veskrane-1.sensors")"
    grep -qx "before_cpu0_khz=498000" "$tmp/work/governors/memrate-1.sensors" && grep -qx "after_cpu0_khz=498000" "$tmp/work/governors/memrate-1.sensors" ||
        fail "$shell: memrate sensors"
    mv "$tmp/veskrane.good" "$bin/veskrane"
    echo performance >"$sys/cpu1/cpufreq/scaling_governor"
    SUITE_SYSFS=$tmp/sys suite "$shell" -o performance
    grep -q "warning: CPU" "$tmp/err" && fail "$shell: warning with every governor at performance"
    rm -rf -- "${tmp:?}/sys"

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

    # A program killed by an illegal instruction (a processor without the build's features) is
    # named as such, with what the build needs; the others' results stand.
    printf '#!/bin/sh\nkill -ILL $$\n' >"$bin/veskrane"
    suite "$shell" -o sigill
    [ "$status" -eq 1 ] && [ "$(cat "$tmp/work/sigill/veskrane-1.status")" = 132 ] &&
        grep -q '^veskrane .*illegal instruction: this build needs an ARMv7-A processor with VFPv3 and NEON' "$tmp/out" &&
        grep -q '^memrate .*[0-9]' "$tmp/out" && ! grep -q '^memrate .*INVALID' "$tmp/out" ||
        fail "$shell: SIGILL: status $status, $(grep '^veskrane' "$tmp/out"), $(cat "$tmp/err")"

    # A missing program stops the suite before it starts.
    rm "$bin/veskrane"
    suite "$shell" -o missing
    [ "$status" -eq 2 ] && grep -qx "run-suite: missing program: $bin/veskrane" "$tmp/err" ||
        fail "$shell: missing program: status $status, $(cat "$tmp/err")"
    [ ! -e "$tmp/work/missing" ] || fail "$shell: a results folder was made without a program"
    mv "$tmp/veskrane.good" "$bin/veskrane"

    # Time limit: a program that hangs (with a child of its own) is stopped with TERM, one that
    # ignores TERM with KILL after the grace time; the suite goes on, the run is marked.
    mv "$bin/memrate" "$tmp/memrate.good"
    for kind in term kill; do
        trap_line=
        [ "$kind" = term ] || trap_line="trap '' TERM"
        printf '#!/bin/sh\n%s\nsleep 60 &\necho $! >"%s"\nwait\n' "$trap_line" "$tmp/child" >"$bin/memrate"
        chmod +x "$bin/memrate"
        rm -f -- "${tmp:?}/child"
        SUITE_KILL_GRACE=1 suite "$shell" -t 2 -o "hang-$kind"
        r=$tmp/work/hang-$kind
        expected=143
        [ "$kind" = term ] || expected=137
        [ "$status" -eq 1 ] && [ "$(errors)" = "run-suite: memrate stopped: timed out after 2 s" ] ||
            fail "$shell: $kind: hanging program: status $status, $(cat "$tmp/err")"
        [ "$(cat "$r/memrate-1.timeout" 2>&1)" = 2 ] && [ "$(cat "$r/memrate-1.status" 2>&1)" = "$expected" ] ||
            fail "$shell: $kind: timeout $(cat "$r/memrate-1.timeout" 2>&1), status $(cat "$r/memrate-1.status" 2>&1)"
        [ -s "$r/tarnvik-vfp-1.stdout" ] && [ ! -e "$r/tarnvik-vfp-1.timeout" ] || fail "$shell: $kind: the suite did not go on"
        grep -q '^memrate .*timed out after 2 s' "$r/summary.txt" && ! grep -q 'killed by' "$r/summary.txt" ||
            fail "$shell: $kind: the summary does not say that memrate timed out: $(grep '^memrate' "$r/summary.txt")"
        grep -qx "time_limit_s=2" "$r/context" || fail "$shell: $kind: time limit not in the context"
        # The child is gone (or a zombie waiting for its new parent) within a few seconds.
        child=$(cat "$tmp/child" 2>/dev/null) || child=
        k=0
        while [ -n "$child" ] && [ -e "/proc/$child" ] && [ "$(sed 's/.*) \(.\).*/\1/' "/proc/$child/stat" 2>/dev/null)" != Z ] && [ $k -lt 50 ]; do
            sleep 0.1
            k=$((k + 1))
        done
        [ -n "$child" ] && [ $k -lt 50 ] || fail "$shell: $kind: the hanging program's child was left running"
    done
    mv "$tmp/memrate.good" "$bin/memrate"

    # The suite lock: a second run while one runs is refused naming the first; a stopped run gives
    # the lock back; the lock of a run that was killed outright is taken over.
    mv "$bin/tarnvik-vfp" "$tmp/tarnvik-vfp.good"
    printf '#!/bin/sh\nsleep 30\n' >"$bin/tarnvik-vfp"
    chmod +x "$bin/tarnvik-vfp"
    (cd "$tmp/work" && exec $shell "$bin/run-suite" -o holder) >"$tmp/holder.out" 2>"$tmp/holder.err" &
    holder=$!
    k=0
    until grep -q "run 1 of 1: tarnvik-vfp" "$tmp/holder.err" || [ $k -ge 300 ]; do
        sleep 0.1
        k=$((k + 1))
    done
    suite "$shell" -o second
    [ "$status" -eq 2 ] && [ "$(cat "$tmp/err")" = "run-suite: another run-suite is running (pid $holder, results folder holder); not run: run one suite at a time" ] ||
        fail "$shell: second suite: status $status, $(cat "$tmp/err")"
    [ ! -e "$tmp/work/second" ] || fail "$shell: the refused run left its folder"
    kill -TERM "$holder"
    hst=0
    wait "$holder" || hst=$?
    [ "$hst" -eq 143 ] && [ "$(tail -n 1 "$tmp/holder.err")" = "run-suite: terminated; the results folder holder is incomplete" ] ||
        fail "$shell: stopped suite: status $hst, $(cat "$tmp/holder.err")"
    [ ! -e "$SUITE_LOCK" ] && [ ! -L "$SUITE_LOCK" ] || fail "$shell: the lock outlived a stopped run"
    mv "$tmp/tarnvik-vfp.good" "$bin/tarnvik-vfp"
    sh -c 'exit 0' &
    dead=$!
    wait "$dead"
    ln -s "pid=$dead start=1 folder=gone" "$SUITE_LOCK"
    suite "$shell" -o after-kill
    [ "$status" -eq 0 ] && [ "$(errors)" = "run-suite: note: took over the lock of an ended run (pid $dead, results folder gone)" ] ||
        fail "$shell: stale lock: status $status, $(cat "$tmp/err")"
    [ ! -L "$SUITE_LOCK" ] || fail "$shell: the taken-over lock outlived the run"
    ln -s "something else" "$SUITE_LOCK"
    suite "$shell" -o foreign
    [ "$status" -eq 2 ] && [ "$(cat "$tmp/err")" = "run-suite: the lock $SUITE_LOCK is not run-suite's (something else); remove it if no suite runs" ] ||
        fail "$shell: foreign lock: status $status, $(cat "$tmp/err")"
    rm -f -- "${tmp:?}/run-suite.lock"
done

finish "run-suite fault checks"
