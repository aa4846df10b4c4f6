#!/usr/bin/env bash
# report_cli.sh - suite-report's command line: exit statuses, and one line naming the file or the
# option for bad input. Arguments: the suite-report program, the fixture folder.
set -u
report=$1
fixtures=$2
tmp=$(mktemp -d)
[ -n "$tmp" ] && [ -d "$tmp" ] || { echo "FAIL: no temporary folder"; exit 1; }
trap 'rm -rf -- "${tmp:?}"' EXIT
failures=0

# expect LABEL STATUS STDERR-TEXT ARGS...: the status, and standard error holding the text (one
# line, or nothing when the text is empty).
expect() {
    local label=$1 want=$2 text=$3
    shift 3
    # shellcheck disable=SC2086
    timeout 120 $BENCH_RUNNER "$report" "$@" >"$tmp/out" 2>"$tmp/err"
    local got=$? lines
    lines=$(wc -l <"$tmp/err")
    if [ "$got" -ne "$want" ] ||
        { [ -n "$text" ] && { [ "$lines" -ne 1 ] || ! grep -qF -- "$text" "$tmp/err"; }; } ||
        { [ -z "$text" ] && [ "$lines" -ne 0 ]; }; then
        echo "FAIL: $label: status $got (want $want); standard error:"
        cat "$tmp/err"
        failures=$((failures + 1))
    fi
}

mkdir "$tmp/empty"
cp -r "$fixtures/run-n1" "$tmp/damaged"
head -n 20 "$fixtures/run-n1/memrate-1.stdout" >"$tmp/damaged/memrate-1.stdout"

expect "no command" 2 "suite-report: no command given"
expect "unknown command" 2 "unknown command 'frobnicate'" frobnicate "$tmp/empty"
expect "unknown option" 2 "unknown option '-x'" summary -x "$fixtures/run-n1"
expect "two folders to summary" 2 "summary takes one folder" summary "$tmp/empty" "$tmp/empty"
expect "missing folder" 2 "$tmp/absent: no such results folder" json "$tmp/absent"
expect "empty folder" 2 "$tmp/empty: no results here (no context file)" summary "$tmp/empty"
expect "valid run" 0 "" summary "$fixtures/run-n1"
expect "truncated output" 1 "$tmp/damaged/memrate-1.stdout: truncated report" summary "$tmp/damaged"
expect "compare" 0 "" compare "$fixtures/run-n1" "$fixtures/run-n3"

# Only regular files of a sane size are read: a FIFO would block, a device or a huge file would
# exhaust memory. Each is one line naming the file, status 1, and nothing blocks.
for case in fifo device huge; do
    cp -r "$fixtures/run-n1" "$tmp/$case"
    rm "$tmp/$case/memrate-1.stdout"
done
mkfifo "$tmp/fifo/memrate-1.stdout"
ln -s /dev/zero "$tmp/device/memrate-1.stdout"
truncate -s 1G "$tmp/huge/memrate-1.stdout"
expect "a FIFO as a report" 1 "$tmp/fifo/memrate-1.stdout: not a regular file: not read" summary "$tmp/fifo"
expect "a device as a report" 1 "$tmp/device/memrate-1.stdout: not a regular file: not read" json "$tmp/device"
expect "a 1 GB report" 1 "$tmp/huge/memrate-1.stdout: larger than 4 MiB" csv "$tmp/huge"

# Output that cannot be written is one line and status 2, never a silent success.
for command in summary json csv lava; do
    # shellcheck disable=SC2086
    timeout 120 $BENCH_RUNNER "$report" "$command" "$fixtures/run-n1" >/dev/full 2>"$tmp/err"
    got=$?
    if [ "$got" -ne 2 ] || [ "$(cat "$tmp/err")" != "suite-report: cannot write standard output: No space left on device" ]; then
        echo "FAIL: $command onto a full device: status $got; standard error:"
        cat "$tmp/err"
        failures=$((failures + 1))
    fi
done
expect "compare with a missing folder" 2 "$tmp/absent: no such results folder" compare "$fixtures/run-n1" "$tmp/absent"
expect "plot of a foreign kind" 2 "$tmp/p.pdf: the plot file must end in .svg or .png" plot "$fixtures/run-n1" "$tmp/p.pdf"

: >"$tmp/exists.svg"
if command -v gnuplot >/dev/null 2>&1; then
    expect "plot onto an existing file" 2 "$tmp/exists.svg: exists already; not replaced" plot "$fixtures/run-n3" "$tmp/exists.svg"
    expect "plot" 0 "" plot "$fixtures/run-n3" "$tmp/new.png"
    [ -s "$tmp/new.png" ] || { echo "FAIL: no PNG drawn"; failures=$((failures + 1)); }
else
    expect "plot without gnuplot" 2 "gnuplot not found" plot "$fixtures/run-n3" "$tmp/new.svg"
fi
[ -s "$tmp/exists.svg" ] && { echo "FAIL: an existing file was written"; failures=$((failures + 1)); }

# Whatever the folder holds, the JSON names the schema and one entry per figure; and it is the same
# from wherever suite-report was started.
$BENCH_RUNNER "$report" json "$fixtures/run-n3" >"$tmp/json" 2>/dev/null
grep -q '"schema_version": 1' "$tmp/json" || { echo "FAIL: JSON without schema version"; failures=$((failures + 1)); }
(cd "$fixtures" && $BENCH_RUNNER "$report" json run-n3 >"$tmp/json-here" 2>/dev/null)
cmp -s "$tmp/json" "$tmp/json-here" || { echo "FAIL: JSON depends on the start folder"; failures=$((failures + 1)); }

[ "$failures" -eq 0 ] && echo "all suite-report command-line checks passed"
[ "$failures" -eq 0 ]
