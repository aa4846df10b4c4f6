#!/usr/bin/env bash
# harness_startup.sh - run-suite's checks before the first run, under dash and BusyBox sh: fake ARM
# programs whose interpreter or library is missing from a library tree the test provides, a
# processor without the features a build needs, a program folder that does not allow execution.
# Each program that cannot start is named with the cause and the fix, the others still run.
# Arguments: run-suite, the suite-report program, the fixture folder.
set -eu
[ "${BASH_SOURCE[0]}" = "$0" ] || { echo "run this test with bash, do not source it" >&2; return 1; }
[ $# -eq 3 ] || { echo "usage: bash harness_startup.sh RUN_SUITE SUITE_REPORT FIXTURES" >&2; exit 2; }
lib=$(cd -- "$(dirname -- "$0")" && pwd)/harness_lib.sh
. "$lib" || exit 1
: "${tmp:?}"
fake_programs "$@"
bin=$(cd -P -- "$bin" && pwd)
mkdir -p "$tmp/nosys"
export SUITE_SYSFS="$tmp/nosys"

# le VALUE BYTES: VALUE as little-endian bytes, as printf escapes.
le() {
    local v=$1 n=$2
    while [ "$n" -gt 0 ]; do
        printf '\\x%02x' $((v & 255))
        v=$((v >> 8))
        n=$((n - 1))
    done
}
# fake_elf FILE INTERPRETER: the headers of a 32-bit little-endian ARM program that needs
# INTERPRETER, libc.so.6 and libm.so.6; the fake runner plays FILE.replay in its place.
fake_elf() {
    local base=65536 s
    s='\x7fELF\x01\x01\x01'$(le 0 9)$(le 2 2)$(le 40 2)$(le 1 4)$(le $base 4)$(le 52 4)$(le 0 4)
    s=$s$(le $((0x05000200)) 4)$(le 52 2)$(le 32 2)$(le 3 2)$(le 0 6)
    # Program headers at 52: the interpreter (text at 148), one loaded segment, the dynamic section.
    s=$s$(le 3 4)$(le 148 4)$(le $((base + 148)) 4)$(le $((base + 148)) 4)$(le $((${#2} + 1)) 4)$(le $((${#2} + 1)) 4)$(le 4 4)$(le 1 4)
    s=$s$(le 1 4)$(le 0 4)$(le $base 4)$(le $base 4)$(le 224 4)$(le 224 4)$(le 5 4)$(le 4096 4)
    s=$s$(le 2 4)$(le 192 4)$(le $((base + 192)) 4)$(le $((base + 192)) 4)$(le 32 4)$(le 32 4)$(le 6 4)$(le 4 4)
    printf "$s" >"$1"
    printf '%s' "$2" >>"$1"
    head -c $((168 - 148 - ${#2})) /dev/zero >>"$1"
    # The string table at 168, the dynamic section at 192: two needed libraries and the table.
    printf '\0libc.so.6\0libm.so.6\0\0\0\0' >>"$1"
    printf "$(le 1 4)$(le 1 4)$(le 1 4)$(le 11 4)$(le 5 4)$(le $((base + 168)) 4)$(le 0 8)" >>"$1"
    chmod +x "$1"
}
for p in tarnvik-soft tarnvik-vfp; do
    mv "$bin/$p" "$bin/$p.replay"
done
fake_elf "$bin/tarnvik-soft" /lib/ld-linux.so.3
fake_elf "$bin/tarnvik-vfp" /lib/ld-vfp.so.1
[ "$(stat -c %s "$bin/tarnvik-vfp")" -eq 224 ] || fail "fake program of $(stat -c %s "$bin/tarnvik-vfp") bytes"

# Library trees: one without the soft build's interpreter and without libm, one with everything.
mkdir -p "$tmp/partial/lib/arm-linux-gnueabi" "$tmp/full/lib/arm-linux-gnueabi" "$tmp/full/usr/lib"
touch "$tmp/partial/lib/ld-vfp.so.1" "$tmp/partial/lib/arm-linux-gnueabi/libc.so.6"
touch "$tmp/full/lib/ld-linux.so.3" "$tmp/full/lib/ld-vfp.so.1" "$tmp/full/lib/arm-linux-gnueabi/libc.so.6" "$tmp/full/usr/lib/libm.so.6"

# /proc trees: processor features and mount tables.
armv7="half thumb fastmult vfp edsp neon vfpv3 tls vfpv4 idiva idivt vfpd32 lpae"
mkproc() {
    local dir=$tmp/$1 arch=$2 features=$3 noexec=$4
    mkdir -p "$dir"
    {
        for n in 0 1; do
            printf 'processor\t: %s\nmodel name\t: ARMv7 Processor rev 0 (v7l)\nFeatures\t: %s\n' "$n" "$features"
            printf 'CPU implementer\t: 0x41\nCPU architecture: %s\nCPU part\t: 0xc09\n\n' "$arch"
        done
    } >"$dir/cpuinfo"
    printf 'MemTotal:        1030000 kB\nMemFree:          900000 kB\n' >"$dir/meminfo"
    printf '/dev/root / ext4 rw,relatime 0 0\nproc /proc proc rw 0 0\n' >"$dir/mounts"
    [ "$noexec" = no ] || printf 'tmpfs %s tmpfs rw,nosuid,nodev,noexec,relatime 0 0\n' "$bin" >>"$dir/mounts"
}
mkproc board 7 "$armv7" no
mkproc noneon 7 "half thumb fastmult vfp edsp vfpv3 tls" no
mkproc armv6 6 "half thumb fastmult vfp edsp java tls" no
mkproc noexec 7 "$armv7" yes

fix="an armel C library is needed (Debian-family systems: dpkg --add-architecture armel && apt-get install libc6:armel)"
# The expected cause and fix for program $1, per case.
why_libs() {
    case $1 in
        tarnvik-soft) echo "the program interpreter /lib/ld-linux.so.3 is missing; $fix" ;;
        *) echo "the library libm.so.6 is missing; $fix" ;;
    esac
}
why_noneon() {
    echo "this processor lacks neon in /proc/cpuinfo; the build needs an ARMv7-A processor with VFPv3 and NEON (builds that run here: tarnvik-soft, tarnvik-vfp)"
}
why_armv6() {
    case $1 in
        tarnvik-soft) echo "this processor lacks ARMv7 (CPU architecture: 6) in /proc/cpuinfo; the build needs an ARMv7-A processor (builds that run here: none)" ;;
        tarnvik-vfp) echo "this processor lacks ARMv7 (CPU architecture: 6), vfpv3 in /proc/cpuinfo; the build needs an ARMv7-A processor with VFPv3 (builds that run here: none)" ;;
        *) echo "this processor lacks ARMv7 (CPU architecture: 6), vfpv3, neon in /proc/cpuinfo; the build needs an ARMv7-A processor with VFPv3 and NEON (builds that run here: none)" ;;
    esac
}
why_noexec() {
    echo "the folder $bin is on a mount that does not allow execution (noexec); copy the programs to a folder that allows it, or mount it with exec"
}

# Cases: name, library tree, /proc tree (none: not checked), status, programs not run, their cause.
while read -r name root procdir expected why notrun; do
    for shell in dash "busybox sh"; do
        rm -rf -- "${tmp:?}/work"
        mkdir "$tmp/work"
        if [ "$procdir" = none ]; then unset SUITE_PROC; else export SUITE_PROC=$tmp/$procdir; fi
        status=0
        (cd "$tmp/work" && SUITE_LIBROOT=$tmp/$root exec $shell "$bin/run-suite" -n 2 -o r) >"$tmp/out" 2>"$tmp/err" || status=$?
        r=$tmp/work/r
        [ "$status" -eq "$expected" ] || fail "$shell: $name: status $status, $(cat "$tmp/err")"
        want=
        for p in $notrun; do
            want="$want${want:+
}run-suite: $p: cannot start: $($why "$p")"
        done
        [ "$(errors)" = "$want" ] || fail "$shell: $name: lines: $(errors)"
        for p in veskrane memrate tarnvik-soft tarnvik-vfp; do
            for k in 1 2; do
                case " $notrun " in
                    *" $p "*)
                        [ "$(cat "$r/$p-$k.notrun" 2>&1)" = "cannot start: $($why "$p")" ] &&
                            [ ! -e "$r/$p-$k.stdout" ] && [ ! -e "$r/$p-$k.status" ] ||
                            fail "$shell: $name: $p-$k not marked as not run: $(cat "$r/$p-$k.notrun" 2>&1)"
                        ;;
                    *)
                        [ ! -e "$r/$p-$k.notrun" ] && [ -s "$r/$p-$k.stdout" ] && [ "$(cat "$r/$p-$k.status")" = 0 ] ||
                            fail "$shell: $name: $p-$k did not run"
                        ;;
                esac
            done
        done
        [ "$(tail -n 1 "$tmp/out")" = "Results: r" ] || fail "$shell: $name: results folder not named"
    done
done <<'CASES'
board       full    board  0 -          
libraries   partial none   1 why_libs   tarnvik-soft tarnvik-vfp
no-neon     full    noneon 1 why_noneon veskrane memrate
armv6       full    armv6  2 why_armv6  veskrane memrate tarnvik-soft tarnvik-vfp
noexec      full    noexec 2 why_noexec veskrane memrate tarnvik-soft tarnvik-vfp
CASES
# The last case's context comes from its /proc tree.
grep -qx "processors=2" "$tmp/work/r/context" && grep -qx "memory_kb=1030000" "$tmp/work/r/context" ||
    fail "context does not show the provided processor count and memory"

finish "run-suite start-up checks"
