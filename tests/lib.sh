# lib.sh - the common preamble of the project's test and measurement scripts (bash): the runner of
# built programs, IPC namespaces, a scratch folder and the failure count. Source it first:
#   . "$(dirname "$0")/../../tests/lib.sh"

# runner: the command that executes a built program of the build under test (qemu-arm and its
# options in the ARM build, nothing natively), from BENCH_RUNNER as CTest passes it.
read -r -a runner <<<"${BENCH_RUNNER:-}"

# bench_ipc_namespace: sets isolate to the command prefix that gives a program an IPC namespace of
# its own (plain unshare, or through a user namespace where that is refused); returns 1 and leaves
# isolate empty when neither works.
bench_ipc_namespace() {
    if unshare --ipc true 2>/dev/null; then
        isolate=(unshare --ipc)
    elif unshare --user --map-root-user --ipc true 2>/dev/null; then
        isolate=(unshare --user --map-root-user --ipc)
    else
        isolate=()
        return 1
    fi
}

# bench_isolated "$@": runs the rest of the calling script in an IPC namespace of its own (it is
# started again there with the same arguments), so that System V segments with fixed keys meet no
# other run on the machine. Where no namespace can be made, says so and goes on.
bench_isolated() {
    [ -n "${BENCH_ISOLATED:-}" ] && return 0
    if bench_ipc_namespace; then
        BENCH_ISOLATED=1 exec "${isolate[@]}" bash "$0" "$@"
    fi
    echo "note: no private IPC namespace available; using the machine's segments" >&2
}

# bench_scratch: makes a scratch folder, named in $work, removed when the script ends.
bench_scratch() {
    work=$(mktemp -d) || { echo "$(basename "$0"): cannot make a scratch folder" >&2; exit 1; }
    trap 'rm -rf -- "${work:?}"' EXIT
}

# fail MESSAGE: one failed check; the script goes on and bench_finish reports the count.
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# bench_finish SUCCESS-LINE [KIND]: the final line and status: "N KIND check(s) failed" and 1 after
# any failed check, SUCCESS-LINE and 0 otherwise.
bench_finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures ${2:+$2 }check(s) failed"
        exit 1
    fi
    echo "$1"
    exit 0
}
