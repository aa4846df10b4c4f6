#!/usr/bin/env bash
# check-binaries.sh SOFT VFP - checks the machine code of the two ARM builds: tarnvik-soft does its
# double arithmetic only through the compiler's software routines, tarnvik-vfp with scalar VFP double
# instructions (no NEON, no multiply-accumulate); both are ARM-state code, dynamically linked, and
# load the C and mathematics libraries only.
set -uo pipefail
. "$(dirname "$0")/../../tests/lib.sh"   # fail, bench_finish
soft=$1
vfp=$2
objdump=arm-linux-gnueabi-objdump
readelf=arm-linux-gnueabi-readelf

# The benchmark's own routines, by their demangled names.
own='main|second|print_time|record_run|final_rating|single_run|averaged_run|matgen|dmxpy|epslon|check_residual|dgefa|dgesl|daxpy|ddot|dscal|idamax'

# Instructions of the benchmark's own routines: "address<TAB>mnemonic<TAB>operands".
own_code() {
    "$objdump" -d -C --no-show-raw-insn "$1" | awk -v own="^[0-9a-f]+ <($own)[(>]" '
        /^[0-9a-f]+ <.*>:$/ { keep = ($0 ~ own); next }
        keep && NF >= 2 && $0 ~ /^ *[0-9a-f]+:\t/ { print }'
}

# Addresses that the given code calls.
call_targets() {
    awk -F'\t' '$2 == "bl" { split($3, t, " "); print t[1] }' | sort -u
}

# Address of a symbol of the binary, as objdump prints it.
symbol_address() {
    "$readelf" -sW "$1" | awk -v name="$2" '$8 == name { sub(/^0+/, "", $2); print $2; exit }'
}

check_linkage() {
    local bin=$1 name=$2
    "$readelf" -lW "$bin" | grep -q 'INTERP' || fail "$name is not dynamically linked"
    # The program interpreter (the dynamic loader, loaded in any case) may be named too: a build with
    # -fstack-protector takes the stack guard from it.
    local needed interp
    interp=$("$readelf" -lW "$bin" | sed -n 's/.*Requesting program interpreter: \(.*\)\]$/\1/p')
    needed=$("$readelf" -dW "$bin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' |
             grep -vxF "$(basename "${interp:-none}")" | sort | tr '\n' ' ')
    [ "$needed" = "libc.so.6 libm.so.6 " ] || fail "$name needs [$needed], expected [libc.so.6 libm.so.6 ]"
    "$readelf" -AW "$bin" | grep -q 'Tag_CPU_arch: v7$' || fail "$name is not built for ARMv7"
    # Thumb functions have odd symbol values; the benchmark is built in the ARM instruction set.
    local value
    for sym in main _Z5dgefaPdiiPiS0_ _Z5daxpyidPKdiPdi; do
        value=$("$readelf" -sW "$bin" | awk -v s="$sym" '$8 == s { print $2; exit }')
        [ -n "$value" ] || { fail "$name has no symbol $sym"; continue; }
        (( 16#$value % 2 == 0 )) || fail "$name: $sym is Thumb code"
    done
}

# ---- tarnvik-soft ----
check_linkage "$soft" tarnvik-soft
soft_code=$(own_code "$soft")
[ -n "$soft_code" ] || fail "tarnvik-soft: none of its own routines found"
fp_insns=$(awk -F'\t' '$2 ~ /^(v|cdp|ldc|stc|mcr|mrc)/' <<<"$soft_code" | head -n 10)
[ -z "$fp_insns" ] || fail "tarnvik-soft has floating-point instructions in its own code:"$'\n'"$fp_insns"
soft_calls=$(call_targets <<<"$soft_code")
for routine in __aeabi_dadd __aeabi_dsub __aeabi_dmul __aeabi_ddiv __aeabi_dcmpeq __aeabi_i2d; do
    addr=$(symbol_address "$soft" "$routine")
    if [ -z "$addr" ]; then
        fail "tarnvik-soft does not contain $routine"
    elif ! grep -qx "$addr" <<<"$soft_calls"; then
        fail "tarnvik-soft's own code never calls $routine"
    fi
done
"$readelf" -AW "$soft" | grep -q 'Tag_FP_arch' && fail "tarnvik-soft is marked as using a floating-point unit"

# ---- tarnvik-vfp ----
check_linkage "$vfp" tarnvik-vfp
vfp_code=$(own_code "$vfp")
[ -n "$vfp_code" ] || fail "tarnvik-vfp: none of its own routines found"
for insn in vadd.f64 vsub.f64 vmul.f64 vdiv.f64 vcvt.f64.s32; do
    awk -F'\t' -v m="$insn" '$2 == m { found = 1 } END { exit !found }' <<<"$vfp_code" \
        || fail "tarnvik-vfp's own code has no $insn"
done
# Scalar VFP only, in the whole binary: no quad registers, no vector or integer data types, no
# multiply-accumulate forms (each product must be rounded on its own).
neon=$("$objdump" -d --no-show-raw-insn "$vfp" | awk -F'\t' '
    $2 ~ /^v/ && ($3 ~ /(^|[^a-z])q[0-9]/ || $2 ~ /^v(ld[1-4]|st[1-4]|dup|zip|uzp|trn|tbl|tbx|ext|rev|pad|pmax|pmin|qadd|qsub|and|orr|eor|bic|bsl|shl|shr|mla|mls|nmla|nmls|fma|fms|fnma|fnms)/ \
        || ($2 ~ /\.(i|s|u|p)(8|16|32|64)$/ && $2 !~ /^vcvt/) || $2 ~ /\.f32$/ && $2 !~ /^vcvt/)' | head -n 10)
[ -z "$neon" ] || fail "tarnvik-vfp has vector or multiply-accumulate instructions:"$'\n'"$neon"
vfp_calls=$(call_targets <<<"$vfp_code")
for routine in __aeabi_dadd __aeabi_dmul __aeabi_ddiv; do
    addr=$(symbol_address "$vfp" "$routine")
    [ -n "$addr" ] && grep -qx "$addr" <<<"$vfp_calls" && fail "tarnvik-vfp's own code calls $routine"
done
"$readelf" -AW "$vfp" | grep -q 'Tag_FP_arch: VFPv3' || fail "tarnvik-vfp is not marked VFPv3"
"$readelf" -AW "$vfp" | grep -q 'Tag_Advanced_SIMD_arch' && fail "tarnvik-vfp is marked as using NEON"

bench_finish "both binaries pass"
