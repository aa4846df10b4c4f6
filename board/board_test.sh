#!/usr/bin/env bash
# board_test.sh - the suite on the emulated Cortex-A9 board: a quick run-suite, what its results
# folder says when the host reads it, the same folder with one program made to fail, veskrane M4
# with an iteration count, and the shared-memory segments after the run.
# Arguments: scripts/board, the build's suite-report (run through BENCH_RUNNER), the ARM archive.
set -uo pipefail
board=$1
report=$2
archive=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/board-test.XXXXXX") || exit 1
trap 'rm -rf -- "${work:?}"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
host_report() {
    # shellcheck disable=SC2086
    ${BENCH_RUNNER:-} "$report" "$@"
}

# Everything runs in one boot; each step leaves its output and status in /results.
guest_script='
run-suite -q -n 1 -m 8 -o /results/quick 0 0 0x66 2000 >quick.out 2>&1
echo $? >quick.status
cp -r quick broken && echo 139 >broken/tarnvik-vfp-1.status
suite-report summary broken >broken.out 2>&1
echo $? >broken.status
veskrane M4 0 0 0x66 2000 >m4.out 2>&1
echo $? >m4.status
ipcs -m >ipcs.txt 2>&1
exit "$(cat quick.status)"
'
"$board" -a "$archive" -o "$work/out" -w 180 -t 600 sh -c "$guest_script" >"$work/console" 2>&1
status=$?
out=$work/out
if [ ! -d "$out/quick" ]; then
    tail -n 20 "$work/console" >&2
    echo "FAIL: the board gave no results folder (scripts/board status $status)" >&2
    exit 1
fi
[ "$status" -eq 0 ] || { fail "scripts/board exited with $status, not run-suite's 0"; cat "$out/quick.out" >&2; }
grep -q '^Verdict: PASS$' "$out/quick.out" || fail "the board's summary has no PASS verdict"

# The host reads the folder: valid JSON, every figure a number, the board's context.
host_report json "$out/quick" >"$work/results.json" || fail "the host's suite-report json exited with $?"
python3 - "$work/results.json" "$out/quick" <<'EOF' || fail "the host's JSON does not describe the board's run"
import json, math, sys
data = json.load(open(sys.argv[1]))
faults = []
skips = [4 << i for i in range(10)]
want = (["veskrane-iterations-per-sec", "memrate-t1-copy", "memrate-t2-copy", "memrate-t3-memcpy",
         "memrate-t4-memcpy-oneway", "memrate-t5-read", "memrate-t6-write"]
        + ["memrate-t7-copy-skip%d" % s for s in skips] + ["memrate-t8-read-skip%d" % s for s in skips]
        + ["memrate-t9-write-skip%d" % s for s in skips]
        + ["tarnvik-%s-%s" % (v, f) for v in ("soft", "vfp") for f in ("kflops", "norm-resid", "resid")])
got = {m["name"]: m["value"] for m in data["metrics"]}
for name in want:
    value = got.get(name)
    if not isinstance(value, (int, float)) or isinstance(value, bool) or not math.isfinite(value):
        faults.append("figure %s is %r, not a number" % (name, value))
if data["valid"] is not True:
    faults.append("valid is %r" % data["valid"])
ctx = data["context"]
cpus = sum(1 for line in open(sys.argv[2] + "/cpuinfo.txt") if line.split(":")[0].strip() == "processor")
if cpus != 4:
    faults.append("cpuinfo.txt lists %d processors, not 4" % cpus)
if ctx.get("machine") != "armv7l":
    faults.append("machine is %r, not armv7l" % ctx.get("machine"))
uname = ctx.get("uname", "").split()
if len(uname) < 3 or uname[0] != "Linux" or uname[-2:] != ["armv7l", "GNU/Linux"]:
    faults.append("uname %r is not an ARM Linux kernel" % ctx.get("uname"))
if ctx.get("runner") != "direct":
    faults.append("runner is %r: on the board the programs run directly" % ctx.get("runner"))
# Context keys that run-suite is about to gain (processor count, memory, frequency notes) are
# checked here as soon as they appear.
if "processors" in ctx and str(ctx["processors"]) != "4":
    faults.append("processors is %r, not 4" % ctx["processors"])
for fault in faults:
    print(fault, file=sys.stderr)
sys.exit(1 if faults else 0)
EOF

# The same folder with one program made to fail: status 1 and the failing program shown INVALID,
# from the host's suite-report; the board's own suite-report gave 1 for the killed program too.
cp -r "$out/quick" "$work/killed" && echo 139 >"$work/killed/tarnvik-vfp-1.status"
cp -r "$out/quick" "$work/cut" && head -c 300 "$out/quick/memrate-1.stdout" >"$work/cut/memrate-1.stdout"
for row in "killed:tarnvik-vfp" "cut:memrate"; do
    folder=$work/${row%%:*}
    program=${row#*:}
    host_report summary "$folder" >"$folder.out" 2>&1
    s=$?
    [ "$s" -eq 1 ] || fail "${row%%:*} $program: the host's suite-report exited with $s, not 1"
    grep -Eq "^$program +INVALID \(0 of 1 runs valid\)" "$folder.out" ||
        fail "${row%%:*} $program: the summary does not show $program as INVALID"
done
[ "$(cat "$out/broken.status")" = 1 ] || fail "the board's suite-report on a folder with a killed program exited with $(cat "$out/broken.status"), not 1"

# veskrane M4 with an iteration count: four contexts, each with the signatures of the seed set; a
# run this short is only refused for its length.
m4=$out/m4.out
[ "$(cat "$out/m4.status")" = 0 ] || fail "veskrane M4 exited with $(cat "$out/m4.status")"
grep -qx 'Parallel Fork : 4' "$m4" || fail "veskrane M4 did not run four contexts"
for k in 0 1 2 3; do
    for pair in crclist:0xe714 crcmatrix:0x1fd7 crcstate:0x8e3a; do
        grep -Eqx "\[$k\]${pair%%:*} +: ${pair#*:}" "$m4" || fail "veskrane M4: context $k has no ${pair%%:*} ${pair#*:}"
    done
done
[ "$(grep -c 'crclist' "$m4")" = 4 ] || fail "veskrane M4 reported $(grep -c crclist "$m4") contexts, not 4"
grep -v 'ERROR! Must execute for at least 10 secs' "$m4" | grep -Eq 'ERROR|errno=' &&
    fail "veskrane M4 reported an error beyond the short run: $(grep -E 'ERROR|errno=' "$m4" | head -n 1)"

# The fixed segments stay in the system, with no process attached.
for key in 0x000010e1 0x000010e2 0x000010e3 0x000010e4; do
    line=$(grep "^$key " "$out/ipcs.txt")
    [ -n "$line" ] || { fail "segment $key is missing after the run"; continue; }
    # shellcheck disable=SC2086
    set -- $line
    [ "${6:-}" = 0 ] || fail "segment $key has nattch ${6:-?}, not 0"
done

[ "$failures" -eq 0 ] || { echo "board test: $failures failures" >&2; exit 1; }
echo "board test: quick suite, host report, failing folder, veskrane M4 and segments checked"
