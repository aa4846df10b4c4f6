#!/usr/bin/env bash
# run-e2e.sh EXPECTED_STDOUT PROGRAM... - runs each build of the benchmark (through $BENCH_RUNNER
# when set) and checks: exit status 0; standard output byte for byte equal to EXPECTED_STDOUT, so
# every build prints the same accuracy figures; standard error in the report's exact layout, with
# the measured figures masked field by field, and a final rating that matches the averaged runs;
# the two streams interleaved in report order when they share a file.
set -uo pipefail
. "$(dirname "$0")/../../tests/lib.sh"   # runner, bench_scratch, fail, bench_finish
expected=$1
shift
bench_scratch

# The report on standard error with every measured figure replaced by '#'; a figure that does not
# fill its field as printed is left in place so that the comparison shows it.
mask_stderr() {
    awk '
    function field(text, pattern) {
        return (length(text) == 11 && text ~ pattern) ? "###########" : text
    }
    ((NR >= 6 && NR <= 9) || (NR >= 11 && NR <= 14)) && length($0) == 66 {
        secs = "^ *-?([0-9]+\\.[0-9][0-9]|inf|nan)$"
        whole = "^ *-?([0-9]+|inf|nan)$"
        out = ""
        for (f = 0; f < 6; f++)
            out = out field(substr($0, 11 * f + 1, 11), f == 3 ? whole : secs)
        print out
        next
    }
    NR == 15 && match($0, /^Rolled Double  Precision +-?[0-9]+ Kflops ; 10 Reps $/) {
        figure = substr($0, 26, length($0) - 25 - length(" Kflops ; 10 Reps "))
        if (length(figure) >= 5 && (length(figure) == 5 || figure !~ /^ /))
            sub(/Precision +-?[0-9]+ /, "Precision ##### ")
        print
        next
    }
    { print }'
}

expected_stderr() {
    printf 'Rolled Double Precision Tarnvik\n\n'
    printf '    times are reported for matrices of order   100\n'
    printf '      dgefa      dgesl      total       kflops     unit      ratio\n'
    printf ' times for array with leading dimension of  201\n'
    for _ in 1 2 3 4; do printf '%s\n' '##################################################################'; done
    printf ' times for array with leading dimension of 200\n'
    for _ in 1 2 3 4; do printf '%s\n' '##################################################################'; done
    printf 'Rolled Double  Precision ##### Kflops ; 10 Reps \n'
}
expected_stderr >"$work/expected-stderr"

for program in "$@"; do
    name=$(basename "$program")
    "${runner[@]}" "$program" >"$work/$name.out" 2>"$work/$name.err"
    status=$?
    [ "$status" -eq 0 ] || fail "$name exited with status $status"
    if ! cmp -s "$expected" "$work/$name.out"; then
        fail "standard output of $name differs from the expected text:"
        diff "$expected" "$work/$name.out"
    fi
    mask_stderr <"$work/$name.err" >"$work/$name.masked"
    if ! cmp -s "$work/expected-stderr" "$work/$name.masked"; then
        fail "standard error of $name is not in the report's layout (expected < > got):"
        diff "$work/expected-stderr" "$work/$name.masked"
        continue
    fi
    # The final rating is the smaller kflops figure of the averaged runs (rows of runs 3 and 7);
    # the two are rounded differently, so allow one unit.
    if ! awk '
        NR == 9 { k3 = substr($0, 34, 11) + 0 }
        NR == 14 { k7 = substr($0, 34, 11) + 0 }
        NR == 15 { split($0, w, " +"); rating = w[4] + 0 }
        END {
            want = (k3 < k7) ? k3 : k7
            d = rating - want
            if (d < -1 || d > 1) { printf "rating %d, averaged runs %d and %d\n", rating, k3, k7; exit 1 }
        }' "$work/$name.err"; then
        fail "final rating of $name is not the smaller averaged rating"
    fi
done

# Both streams into one file keep the report's order (banner, banner, accuracy lines, table), and
# arguments are ignored.
last=${*: -1}
{ head -n 2 "$expected"; head -n 2 "$expected"; tail -n 2 "$expected"; } >"$work/combined-head"
"${runner[@]}" "$last" 100 >"$work/combined" 2>&1
if ! head -n 6 "$work/combined" | cmp -s "$work/combined-head" -; then
    fail "$(basename "$last") with an argument, both streams to one file:"
    head -n 7 "$work/combined"
fi

bench_finish "all builds print the expected report"
