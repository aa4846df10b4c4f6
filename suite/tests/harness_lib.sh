# shellcheck shell=bash
# harness_lib.sh - shared preamble of the run-suite shell tests: a private temporary folder, failure
# counting, a program folder with fake programs that replay captured reports, and a runner.
# Sourced by the tests (bash); it refuses to be used without a usable temporary folder.

# The project's common test preamble: fail, bench_finish and the scratch folder.
. "$(dirname "$0")/../../tests/lib.sh" || { echo "FAIL: cannot read tests/lib.sh"; exit 1; }
bench_scratch
tmp=${work:?}
[ -d "$tmp" ] || { echo "FAIL: no temporary folder"; exit 1; }
# finish NAME: the closing line and the test's status.
finish() {
    bench_finish "$1 passed" "$1"
}

# make_bin DIR RUN_SUITE SUITE_REPORT FIXTURES: run-suite, the real suite-report, and fakes that
# print the run-n1 reports.
make_bin() {
    mkdir -p -- "$1"
    cp -- "$2" "$1/run-suite"
    cp -- "$3" "$1/suite-report"
    local p
    for p in veskrane memrate tarnvik-soft tarnvik-vfp; do
        printf '#!/bin/sh\ncat "%s"\ncat "%s" >&2\n' "$4/run-n1/$p-1.stdout" "$4/run-n1/$p-1.stderr" >"$1/$p"
        chmod +x "$1/$p"
    done
}

# fake_programs RUN_SUITE SUITE_REPORT FIXTURES: the test's program folder $bin (make_bin) and the
# fixture folder $fixtures, from the test's own arguments.
fake_programs() {
    fixtures=$(cd -- "$3" && pwd)
    bin=$tmp/bin
    make_bin "$bin" "$1" "$2" "$fixtures"
}

# Fakes run directly (a fake ELF program through its .replay script beside it), built programs
# through the build's runner (qemu in the ARM build).
cat >"$tmp/runner" <<'END'
#!/bin/sh
if [ -f "$1.replay" ]; then
    f=$1
    shift
    exec "$f.replay" "$@"
fi
case $(head -c 2 "$1") in
    '#!') exec "$@" ;;
esac
exec $BENCH_RUNNER "$@"
END
chmod +x "$tmp/runner"
export SUITE_RUNNER="$tmp/runner" BENCH_RUNNER="${BENCH_RUNNER:-}"
# Each test has a lock of its own, so that tests and real runs do not meet.
export SUITE_LOCK="$tmp/run-suite.lock"
mkdir "$tmp/work"

# suite SHELL ARGS...: runs run-suite from $bin in $tmp/work; status in $status, outputs in
# $tmp/out and $tmp/err.
suite() {
    local shell=$1
    shift
    status=0
    (cd "$tmp/work" && $shell "$bin/run-suite" "$@") >"$tmp/out" 2>"$tmp/err" || status=$?
}
# errors: run-suite's own lines on standard error of the last run, without the progress lines,
# suite-report's lines and the plot warning that follows from an invalid memrate run.
errors() {
    grep -v -e '^run-suite: run [0-9]* of [0-9]*: ' -e '^suite-report: ' \
        -e '^run-suite: warning: the stride plot could not be drawn$' "$tmp/err" || :
}
