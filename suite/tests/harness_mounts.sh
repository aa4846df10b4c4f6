#!/usr/bin/env bash
# harness_mounts.sh - run-suite under dash and BusyBox sh with fake programs on small filesystems,
# inside a private mount namespace: a results folder on a nearly full tmpfs gives one line naming the
# file and status 2, never a verdict; a program folder on a noexec tmpfs runs nothing.
# Arguments: run-suite, the suite-report program, the fixture folder. Status 77: no namespace here.
set -eu
[ "${BASH_SOURCE[0]}" = "$0" ] || { echo "run this test with bash, do not source it" >&2; return 1; }
[ $# -eq 3 ] || { echo "usage: bash harness_mounts.sh RUN_SUITE SUITE_REPORT FIXTURES" >&2; exit 2; }
if [ -z "${HARNESS_MOUNT_NS:-}" ]; then
    for ns in "unshare -m" "unshare --user --map-root-user -m"; do
        if $ns true 2>/dev/null; then
            HARNESS_MOUNT_NS=1 exec $ns --propagation private bash "$0" "$@"
        fi
    done
    echo "note: no private mount namespace available; skipped"
    exit 77
fi
lib=$(cd -- "$(dirname -- "$0")" && pwd)/harness_lib.sh
. "$lib" || exit 1
: "${tmp:?}"
fake_programs "$@"
mkdir -p "$tmp/nosys"
export SUITE_SYSFS="$tmp/nosys"
# A small /proc tree keeps the copied processor description the same size on every machine.
mkdir -p "$tmp/proc"
printf 'processor\t: 0\nFeatures\t: half thumb fastmult vfp edsp neon vfpv3 tls\nCPU architecture: 7\n' >"$tmp/proc/cpuinfo"
printf 'MemTotal:        1030000 kB\n' >"$tmp/proc/meminfo"
export SUITE_PROC="$tmp/proc"
export SUITE_LIBROOT="$tmp"
fs=$tmp/fs
mkdir "$fs"

# full SHELL SIZE: run-suite with its results folder on a tmpfs of SIZE.
full() {
    umount "$fs" 2>/dev/null || :
    mount -t tmpfs -o "size=$2" tmpfs "$fs"
    suite "$1" -o "$fs/r"
}

for shell in dash "busybox sh"; do
    # Room enough: a normal run.
    full "$shell" 1m
    [ "$status" -eq 0 ] && grep -q "^Verdict: PASS" "$tmp/out" || fail "$shell: roomy tmpfs: status $status, $(cat "$tmp/err")"
    need=$(du -sk "$fs" | cut -f1)
    # Less room at every point of the run, from the first files to the last derived one: each run
    # either completes or ends with one line naming the file, status 2 and no verdict.
    late=0
    kib=16
    while [ "$kib" -le "$need" ]; do
        full "$shell" "${kib}k"
        line=$(errors)
        if [ "$status" -eq 0 ]; then
            grep -q "^Verdict: PASS" "$tmp/out" && [ -z "$line" ] && [ -s "$fs/r/results-lava.txt" ] ||
                fail "$shell: ${kib} KiB: status 0 without a complete folder: $line"
        else
            [ "$status" -eq 2 ] || fail "$shell: ${kib} KiB: status $status"
            case $line in
                "run-suite: cannot write $fs/r/"*": No space left on device") ;;
                *) fail "$shell: ${kib} KiB: not one line naming the file: $line" ;;
            esac
            case $line in
                *"/problems.txt: "* | *"/results."* | *"/results-lava.txt: "* | *"/summary.txt: "* | *"/context: "*) late=1 ;;
            esac
            ! grep -q "Verdict" "$tmp/out" || fail "$shell: ${kib} KiB: a verdict was printed"
            for f in summary.txt results.json results.csv results-lava.txt; do
                [ ! -e "$fs/r/$f" ] || fail "$shell: ${kib} KiB: $f left in a folder cut short"
            done
        fi
        echo "$shell: ${kib} KiB: ${line:-complete, status $status}"
        kib=$((kib + 8))
    done
    [ "$late" = 1 ] || fail "$shell: no size met the writes after the runs"
    umount "$fs"

    # A program folder that does not allow execution: nothing runs, each program is named.
    mount -t tmpfs -o size=256m,noexec tmpfs "$fs"   # room for a sanitizer build's suite-report
    make_bin "$fs/bin" "$1" "$2" "$fixtures"
    unset SUITE_PROC
    status=0
    (cd "$tmp/work" && exec $shell "$fs/bin/run-suite" -o noexec) >"$tmp/out" 2>"$tmp/err" || status=$?
    export SUITE_PROC="$tmp/proc"
    want=
    for p in veskrane memrate tarnvik-soft tarnvik-vfp; do
        want="$want${want:+
}run-suite: $p: cannot start: the folder $fs/bin is on a mount that does not allow execution (noexec); copy the programs to a folder that allows it, or mount it with exec"
        [ -s "$tmp/work/noexec/$p-1.notrun" ] && [ ! -e "$tmp/work/noexec/$p-1.stdout" ] || fail "$shell: noexec: $p was run"
    done
    [ "$status" -eq 2 ] && [ "$(errors)" = "$want" ] || fail "$shell: noexec: status $status, $(errors)"
    rm -rf -- "${tmp:?}/work/noexec"
    umount "$fs"
done

finish "run-suite filesystem checks"
