#!/usr/bin/env bash
# farm_test.sh - LAVA's dispatcher runs the quick boardbench job against the emulated board. Every
# result the dispatcher records must pass, the boardbench cases must be exactly the lines that
# suite-report lava wrote on the board, and every measurement must read as a number.
# Arguments: scripts/board, the ARM archive, the device configuration, the job, the farm test
# definition (suite/lava/boardbench.yaml).
set -uo pipefail
board=$1
archive=$2
device=$3
job=$4
definition=$5
work=$(mktemp -d "${TMPDIR:-/tmp}/farm-test.XXXXXX") || exit 1
trap 'rm -rf -- "${work:?}"' EXIT

"$board" -a "$archive" -i "$work/images" || { echo "FAIL: scripts/board could not make the board's files" >&2; exit 1; }

# The job takes the test definition through git: a repository made here holds this checkout's
# file at its usual path, so that the job runs what is in the tree, committed or not.
repo=$work/repo
mkdir -p "$repo/suite/lava" && cp "$definition" "$repo/suite/lava/boardbench.yaml" || exit 1
git -C "$repo" init -q && git -C "$repo" add . &&
    git -C "$repo" -c user.name=farm-test -c user.email=farm-test@localhost commit -q -m "farm test definition" ||
    { echo "FAIL: cannot make the test definition's git repository" >&2; exit 1; }

# The kept job with its placeholders filled, plus one inline step of the test's own that prints the
# board's result lines between markers, to compare with what the dispatcher recorded.
python3 - "$job" "$work/job.yaml" "$work/images" "file://$repo" <<'EOF' || { echo "FAIL: cannot prepare the job" >&2; exit 1; }
import sys, yaml
text = open(sys.argv[1]).read().replace("@IMAGES@", sys.argv[3]).replace("@REPOSITORY@", sys.argv[4])
job = yaml.safe_load(text)
test = next(a["test"] for a in job["actions"] if "test" in a)
test["definitions"].append({
    "from": "inline", "name": "board-lines", "path": "inline/board-lines.yaml",
    "repository": {
        "metadata": {"format": "Lava-Test Test Definition 1.0", "name": "board-lines",
                     "description": "prints the result lines of the boardbench run"},
        "run": {"steps": [
            "echo farm-lines-begin",
            "cat /lava-*/*/tests/*_boardbench/boardbench-results-*/results-lava.txt",
            "echo farm-lines-end",
        ]},
    },
})
yaml.safe_dump(job, open(sys.argv[2], "w"), sort_keys=False)
EOF

# A job id of its own: the dispatcher's working folder is named after it.
timeout 900 lava-run --job-id "farm-test-$$" --output-dir "$work/lava" --device "$device" "$work/job.yaml" >"$work/lava.log" 2>&1
status=$?
if [ "$status" -eq 124 ]; then
    echo "FAIL: the LAVA job did not end within 900 s" >&2
    exit 1
fi

python3 - "$work/lava.log" "$status" <<'EOF'
import sys, yaml
faults = []
results, target = [], []
for line in open(sys.argv[1]):
    try:
        entry = yaml.safe_load(line)
    except yaml.YAMLError:
        continue
    if not isinstance(entry, dict):
        continue
    if entry.get("lvl") == "results":
        results.append(entry["msg"])
    elif entry.get("lvl") == "target" and isinstance(entry.get("msg"), str):
        target.append(entry["msg"].strip())
if sys.argv[2] != "0":
    faults.append("lava-run exited with %s" % sys.argv[2])
for r in results:
    if r.get("result") != "pass":
        faults.append("%s/%s: %s %s" % (r.get("definition"), r.get("case"), r.get("result"),
                                        r.get("extra", r.get("error_msg", ""))))
if not any(r.get("definition") == "lava" and r.get("case") == "job" for r in results):
    faults.append("the dispatcher recorded no result for the job")
cases = [r for r in results if r.get("definition") == "0_boardbench"]
# The board's own lines, printed by the inline step: the last block between the markers.
lines = []
if "farm-lines-end" in target:
    end = len(target) - 1 - target[::-1].index("farm-lines-end")
    begin = end - 1 - target[end - 1::-1].index("farm-lines-begin")
    # The test shell traces its commands with "+ "; those lines are not the board's.
    lines = [t.split() for t in target[begin + 1:end] if t and not t.startswith("+ ")]
if not lines:
    faults.append("the board printed no result lines")
want = [(l[0], l[1]) for l in lines] + [("run-suite", "pass")]
got = [(r.get("case"), r.get("result")) for r in cases]
if got != want:
    faults.append("the dispatcher's boardbench cases differ from the board's lines: only recorded %s, only printed %s"
                  % ([c for c in got if c not in want], [c for c in want if c not in got]))
for line in lines:
    if len(line) >= 3:
        try:
            float(line[2])
        except ValueError:
            faults.append("the board's measurement %r of %s is not a number" % (line[2], line[0]))
for r in cases:
    if "measurement" in r:
        try:
            float(str(r["measurement"]))
        except ValueError:
            faults.append("the measurement %r of %s is not a number" % (r["measurement"], r["case"]))
measured = sum(1 for r in cases if "measurement" in r)
if measured == 0:
    faults.append("no boardbench case carries a measurement")
for fault in faults:
    print("FAIL: " + fault, file=sys.stderr)
if faults:
    sys.exit(1)
print("farm test: %d boardbench cases pass, %d of them with a numeric measurement" % (len(cases), measured))
EOF
s=$?
[ "$s" -eq 0 ] || grep '"lvl": "\(error\|exception\)"' "$work/lava.log" | tail -n 5 >&2
exit "$s"
