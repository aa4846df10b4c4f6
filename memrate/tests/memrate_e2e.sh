#!/usr/bin/env bash
# memrate_e2e.sh - runs the memrate program and compares its whole output with the expected text.
# Only addresses, milliseconds and rates vary; they are read from the output, checked against the
# rules they follow (alignment, half offsets, rate = KB x 1000 / msec) and printed back into the
# expected text with the program's own formats, so every other byte is compared exactly.
# Usage: memrate_e2e.sh PROGRAM [sanitized]; BENCH_RUNNER holds the emulator command, if any.
set -uo pipefail
. "$(dirname "$0")/../../tests/lib.sh"   # runner, fail, bench_finish
program=$1
sanitized=${2:-}

# run ARGS...: the program's standard output and standard error, byte for byte, then "rc=STATUS".
run() {
    local out
    out=$("${runner[@]}" "$program" "$@" 2>&1; echo "rc=$?")
    printf '%s' "$out"
}

# compare WHAT EXPECTED ACTUAL
compare() {
    if [ "$2" != "$3" ]; then
        fail "$1"
        diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | head -20
    fi
}

# Argument counts other than one: the usage line only, status 0.
usage=$'Please enter: [command] [memory size]\nrc=0'
compare "no argument" "$usage" "$(run)"
compare "two arguments" "$usage" "$(run 1 2)"
compare "three arguments" "$usage" "$(run 64 64 64)"

# check_run ARG SIZE_MIB: a complete run of ARG, which must give a block of SIZE_MIB MiB.
check_run() {
    local arg=$1 size_mib=$2
    local half=$((size_mib * 524288)) alloc=$((size_mib * 1048576 + 4096)) kb=$((size_mib * 5120))
    local out; out=$(run "$arg")
    local -a got
    mapfile -t got <<< "$out"
    local -a want
    local n=0 raw=0 base=0

    # Set-up lines: the raw block, the aligned base if it moved, the two halves and their size.
    [[ ${got[0]} =~ ^\ Allocated\ -?[0-9]+\ bytes\ at\ 0x([0-9a-f]+)$ ]] && raw=$((16#${BASH_REMATCH[1]}))
    want[n++]=$(printf ' Allocated %d bytes at 0x%08x' "$alloc" "$raw")
    base=$raw
    if [ $((raw % 4096)) -ne 0 ]; then
        base=$(((raw + 4096) / 4096 * 4096))
        want[n++]=$(printf ' Aligned at 0x%08x' "$base")
    fi
    want[n++]="mem mode 0: source cachable, dest cachable"
    want[n++]=$(printf ' Read from : 0x%x' "$base")
    want[n++]=$(printf ' Write to  : 0x%x' $((base + half)))
    want[n++]=$(printf ' Size : %x' "$half")
    want[n++]=""
    want[n++]="Memory read/write test"

    # The time and rate fields of the line the output has at the position of want[n]; a rate
    # must be KB x 1000 / msec, or "-" when no millisecond passed.
    local ms rate
    timing() {
        ms=-1 rate=?
        if [[ ${got[n]:-} =~ \ (-?[0-9]+)\ msec\ =\>\ +(-?[0-9]+|-)\ KB/sec$ ]]; then
            ms=${BASH_REMATCH[1]} rate=${BASH_REMATCH[2]}
            if [ "$ms" -eq 0 ]; then
                [ "$rate" = - ] || fail "arg $arg line $((n + 1)): rate $rate for 0 msec"
            elif [ "$rate" != $((kb * 1000 / ms)) ]; then
                fail "arg $arg line $((n + 1)): rate $rate for $kb KB in $ms msec"
            fi
        fi
    }
    local heading label
    while IFS='|' read -r heading label; do
        want[n++]=""
        want[n++]=$heading
        timing
        want[n++]=$(printf '%s%3d: %d times, %8d bytes, %4d msec => %6s KB/sec' "$label" 0 10 "$half" "$ms" "$rate")
    done <<'TESTS'
(1) Memory read/write test through 32-bit pointer access|Read/Write 
(2) Memory read/write test through 32-bit pointer access|Read/Write 
(3) Memory read/write test through memcpy()|Read/Write 
(4) Memory read/write test through memcpy(prefetch version)|Read/Write 
(5) Memory read test|Read  
(6) Memory write test|Write 
TESTS
    local skip
    while IFS='|' read -r heading label; do
        want[n++]=""
        want[n++]=$heading
        for skip in 4 8 16 32 64 128 256 512 1024 2048; do
            timing
            want[n++]=$(printf '%s%8d bytes, skip %4d bytes %4d msec => %6s KB/sec' "$label" "$half" "$skip" "$ms" "$rate")
        done
    done <<'TESTS'
(7) Memory read/write test|Read/Write  
(8) Memory read test|Read  
(9) Memory write test|Write  
TESTS
    want[n++]="rc=0"
    compare "run with argument '$arg'" "$(printf '%s\n' "${want[@]}")" "$out"
}

check_run 1 1          # the smallest real block
check_run 4097 1       # sizes wrap modulo 4096 MiB
check_run 0 0          # an empty block: every measurement runs, nothing divides by zero
check_run 4096 0
check_run abc 0

# A block the allocator cannot give: the error line only. A 32-bit process cannot hold it at all;
# a native process is held under a 1 GiB address-space limit, or the sanitizer's allocation cap.
nomem=$' Error :: malloc failed\nrc=0'
if [ ${#runner[@]} -ne 0 ]; then
    compare "allocation failure" "$nomem" "$(run -1)"
elif [ -n "$sanitized" ]; then
    # The sanitizer reports the refused allocation on standard error; that line is its own.
    compare "allocation failure" "$nomem" \
        "$(ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=1024 run -1 |
           grep -v '^==[0-9]*==WARNING: AddressSanitizer failed to allocate')"
else
    compare "allocation failure" "$nomem" "$(ulimit -v 1048576; run -1)"
fi

bench_finish "memrate end-to-end: all runs as expected" end-to-end
