#!/usr/bin/env bash
# e2e_veskrane.sh - runs the real veskrane binary and compares its whole output with the expected
# text, with only the fields that vary from run to run masked.
#   e2e_veskrane.sh BINARY COMPILER sets   each built-in seed set with an explicit iteration count
#   e2e_veskrane.sh BINARY COMPILER full   one default run: calibration, four contexts, validated
#   e2e_veskrane.sh BINARY COMPILER concurrent   pairs of runs at once in one IPC namespace
# BENCH_RUNNER (qemu-arm and its options, or empty) runs the binary. Every run has an IPC namespace
# of its own, so its segments meet no other run's and vanish with it.
set -uo pipefail
bin=$1
compiler=$2
mode=$3
# runner, bench_ipc_namespace (isolate), bench_scratch, fail and bench_finish.
. "$(dirname "$0")/../../tests/lib.sh" || { echo "e2e: cannot read tests/lib.sh" >&2; exit 1; }
bench_ipc_namespace || { echo "e2e: cannot create an IPC namespace (unshare)" >&2; exit 1; }

version="GCC$("$compiler" -dumpfullversion)"

# Masks ticks, time and rate, and the iteration count (and the final signatures that follow from
# it) when the run calibrated it.
mask() {
    sed -E -e 's/^(Total ticks      : )[0-9]+$/\1<ticks>/' \
        -e 's/^(Total time \(secs\): )[0-9]+\.[0-9]{6}$/\1<secs>/' \
        -e 's/^(Iterations\/Sec   : )[0-9]+\.[0-9]{6}$/\1<rate>/' \
        -e 's/^(Veskrane 1\.0 : )[0-9]+\.[0-9]{6}( \/ )/\1<rate>\2/' \
        -e "s/^(Compiler flags   : ).*$/\1<flags>/" \
        -e "s/( \/ $version ).*( \/ Heap \/ )/\1<flags>\2/" \
        -e "$1"
}

check() {   # name, expected text, actual text
    if [ "$2" != "$3" ]; then
        echo "FAIL: $1"
        diff <(printf '%s\n' "$2") <(printf '%s\n' "$3")
        failures=$((failures + 1))
    else
        echo "ok: $1"
    fi
}

# The report of a run too short to be valid, for contexts 0..n-1 with the given signatures.
short_report() {   # seed-set line, size, iterations total, contexts, seedcrc, list, matrix, state
    local i
    [ -n "$1" ] && echo "$1"
    printf 'Veskrane Size    : %s\nTotal ticks      : <ticks>\nTotal time (secs): <secs>\n' "$2"
    printf 'Iterations/Sec   : <rate>\nERROR! Must execute for at least 10 secs for a valid result!\n'
    printf 'Iterations       : %s\nCompiler version : %s\nCompiler flags   : <flags>\n' "$3" "$version"
    printf 'Parallel Fork : %s\n' "$4"
    printf 'Memory location  : Please put data memory location here\n\t\t\t(e.g. code in flash, data on heap etc)\n'
    printf 'seedcrc          : %s\n' "$5"
    for ((i = 0; i < $4; i++)); do printf '[%d]crclist       : %s\n' $i "$6"; done
    for ((i = 0; i < $4; i++)); do printf '[%d]crcmatrix     : %s\n' $i "$7"; done
    for ((i = 0; i < $4; i++)); do printf '[%d]crcstate      : %s\n' $i "$8"; done
    for ((i = 0; i < $4; i++)); do printf '[%d]crcfinal      : <final>\n' $i; done
    echo "Errors detected"
}

# Runs the binary in a fresh IPC namespace; prints its output, its exit status and then the
# namespace's segments as "key bytes" lines.
run_isolated() {
    "${isolate[@]}" bash -c '"$@"; echo "exit status $?"; ipcs -m | awk "/^0x/ {print \$1, \$5}"' \
        run "${runner[@]}" "$bin" "$@" 2>&1
}

# Every context of a run must end with the same final signature.
same_finals() {
    [ "$(grep -E '^\[[0-9]\]crcfinal' <<<"$1" | awk '{print $3}' | sort -u | wc -l)" -eq 1 ]
}

segments4=$'0x000010e1 8\n0x000010e2 8\n0x000010e3 8\n0x000010e4 8'

case "$mode" in
sets)
    # arguments | contexts | seed-set line | size | seedcrc | list | matrix | state
    # The last row is no built-in set: a 513-byte matrix area with no room to align C (N = 8).
    while IFS='|' read -r args n line size seedcrc list matrix state; do
        out=$(run_isolated $args)
        masked=$(mask 's/^(\[[0-9]\]crcfinal      : )0x[0-9a-f]{4}$/\1<final>/' <<<"$out")
        want="$(short_report "$line" "$size" $((100 * n)) "$n" "$seedcrc" "$list" "$matrix" "$state")
exit status 0
$(head -n "$n" <<<"$segments4")"
        check "arguments $args" "$want" "$masked"
        same_finals "$out" || fail "arguments $args: contexts end with different final signatures"
        [ ${#runner[@]} -eq 0 ] || { grep -q "^Compiler flags   : .*-mcpu=cortex-a9" <<<"$out" && grep -q "^Compiler flags   : .*-static" <<<"$out"; } \
            || fail "arguments $args: the flags line does not name the ARM build's flags"
    done <<'EOF'
0 0 0 100 0 0 6000|4|6k performance run parameters for veskrane.|2000|0x8a02|0xd4b0|0xbe52|0x5e47
1 0 0 100 7 0 6000|4|6k validation run parameters for veskrane.|2000|0x7b05|0x3340|0x1199|0x39bf
8 8 8 100 0 0 1200|4|Profile generation run parameters for veskrane.|400|0x4eaf|0x6a79|0x5608|0xe5a4
0 0 0 100|4|2K performance run parameters for veskrane.|666|0xe9f5|0xe714|0x1fd7|0x8e3a
M2 1 0 0 100|2|2K validation run parameters for veskrane.|666|0x18f2|0xe3c1|0x0747|0x8d84
M1 0 0 0 100 0 0 1541|1||513|0xd99e|0x050f|0x3396|0x887b
EOF

    out=$(run_isolated 0 0 0 3 3)
    check "kernel selection without all three kernels" \
        'veskrane: kernel selection "3" reads as 0x3; use 0 or a value with bits 0, 1 and 2 set (7: list, matrix and state)
exit status 0' "$out"
    ;;
full)
    out=$(run_isolated)
    printf '%s\n' "$out"
    iterations=$(sed -nE 's/^Iterations       : ([0-9]+)$/\1/p' <<<"$out")
    masked=$(mask 's/^(\[[0-9]\]crcfinal      : )0x[0-9a-f]{4}$/\1<final>/; s/^(Iterations       : )[0-9]+$/\1<iterations>/' <<<"$out")
    want="2K performance run parameters for veskrane.
Veskrane Size    : 666
Total ticks      : <ticks>
Total time (secs): <secs>
Iterations/Sec   : <rate>
Iterations       : <iterations>
Compiler version : $version
Compiler flags   : <flags>
Parallel Fork : 4
Memory location  : Please put data memory location here
			(e.g. code in flash, data on heap etc)
seedcrc          : 0xe9f5
[0]crclist       : 0xe714
[1]crclist       : 0xe714
[2]crclist       : 0xe714
[3]crclist       : 0xe714
[0]crcmatrix     : 0x1fd7
[1]crcmatrix     : 0x1fd7
[2]crcmatrix     : 0x1fd7
[3]crcmatrix     : 0x1fd7
[0]crcstate      : 0x8e3a
[1]crcstate      : 0x8e3a
[2]crcstate      : 0x8e3a
[3]crcstate      : 0x8e3a
[0]crcfinal      : <final>
[1]crcfinal      : <final>
[2]crcfinal      : <final>
[3]crcfinal      : <final>
Correct operation validated. See readme.txt for run and reporting rules.
Veskrane 1.0 : <rate> / $version <flags> / Heap / 4:Fork
exit status 0
$segments4"
    check "default run" "$want" "$masked"
    same_finals "$out" || fail "default run: contexts end with different final signatures"
    # The calibrated count is a multiple of 4 contexts times a power of ten times 1 to 11.
    [ -n "$iterations" ] && [ $((iterations % 40)) -eq 0 ] \
        || fail "default run: iteration count $iterations"
    ;;
concurrent)
    # Two runs with different seed sets start together in one IPC namespace, 20 times. Each report is
    # either exactly what that run prints on its own (so its own signatures) or exactly the refusal;
    # in no pair are both refused, and at least one pair overlapped.
    refusal='veskrane: another veskrane run holds the result segments (keys 4321 to 4324); not run: run one veskrane at a time'
    args_a='0 0 0 300'
    args_b='1 0 0 300'
    keep='s/^$//'
    solo_a=$(run_isolated $args_a | mask "$keep" | grep -v '^0x')
    solo_b=$(run_isolated $args_b | mask "$keep" | grep -v '^0x')
    grep -q '^Correct operation validated\|^Errors detected$' <<<"$solo_a" && ! grep -q 'ERROR!.*crc' <<<"$solo_a$solo_b" \
        || { echo "FAIL: a run on its own"; printf '%s\n' "$solo_a" "$solo_b"; failures=$((failures + 1)); }
    bench_scratch
    dir=${work:?}
    refused=0
    for pair in $(seq 1 20); do
        DIR=$dir "${isolate[@]}" bash -c '
            "$@" '"$args_a"' >"$DIR/a" 2>&1 & a=$!
            "$@" '"$args_b"' >"$DIR/b" 2>&1 & b=$!
            wait $a; echo "exit status $?" >>"$DIR/a"
            wait $b; echo "exit status $?" >>"$DIR/b"' run "${runner[@]}" "$bin"
        both=0
        for run in a b; do
            if [ $run = a ]; then solo=$solo_a; else solo=$solo_b; fi
            got=$(mask "$keep" <"$dir/$run")
            if [ "$got" = "$refusal"$'\n''exit status 0' ]; then
                refused=$((refused + 1))
                both=$((both + 1))
            elif [ "$got" != "$solo" ]; then
                echo "FAIL: pair $pair, run $run is neither its own report nor the refusal"
                diff <(printf '%s\n' "$solo") <(printf '%s\n' "$got")
                failures=$((failures + 1))
            fi
        done
        [ $both -lt 2 ] || fail "pair $pair: both runs refused"
    done
    echo "concurrent pairs: 20, refusals: $refused"
    [ $refused -gt 0 ] || fail "no pair overlapped"
    ;;
*)
    echo "e2e: unknown mode $mode" >&2
    exit 1
    ;;
esac

bench_finish "veskrane end-to-end checks ($mode) passed"
