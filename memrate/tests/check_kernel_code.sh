#!/usr/bin/env bash
# check_kernel_code.sh - inspects the ARM code of the transfer kernels in the built program: the
# word patterns touch memory only through single word ldr/str (no ldm/stm, no NEON, no byte,
# halfword or doubleword transfers, no preload, no stack traffic) and call nothing inside a loop;
# the block-copy routines call memcpy and nothing else.
# Usage: check_kernel_code.sh OBJDUMP PROGRAM
set -uo pipefail
. "$(dirname "$0")/../../tests/lib.sh"   # fail, bench_finish
objdump=$1
program=$2

listing=$("$objdump" -d -C --no-show-raw-insn "$program") || { echo "FAIL: cannot disassemble $program"; exit 1; }

cond='(eq|ne|cs|hs|cc|lo|mi|pl|vs|vc|hi|ls|ge|lt|gt|le|al)?'

# body NAME: "address<TAB>mnemonic<TAB>operands" for each instruction of the function NAME.
body() {
    awk -v head="<$1(" '
        index($0, head) && /^[0-9a-f]+ </ { on = 1; next }
        on && /^$/ { exit }
        on { sub(/^ +/, ""); sub(/:\t/, "\t"); print }' <<< "$listing"
}

# check_word_kernel NAME LOADS STORES: LOADS and STORES are "some" or "none".
check_word_kernel() {
    local name=$1 want_loads=$2 want_stores=$3
    local code; code=$(body "$name")
    if [ -z "$code" ]; then fail "$name: not found in the program"; return; fi
    local report
    report=$(awk -F'\t' -v cond="$cond" '
        function hex(text,   i, v) {
            v = 0
            for (i = 1; i <= length(text); i++) v = v * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1
            return v
        }
        { addr[NR] = hex($1); op[NR] = $2; arg[NR] = $3 }
        END {
            first = addr[1]; last = addr[NR]
            for (i = 1; i <= NR; i++) {
                m = op[i]
                if (m ~ ("^(ldr|str)" cond "$")) {
                    if (arg[i] ~ /\[sp/) print "stack access: " m " " arg[i]
                    else if (arg[i] !~ /\[pc/) { if (m ~ /^ldr/) loads++; else stores++ }
                } else if (m ~ /^(ldr|str|ldm|stm|v|pld|pli|ldc|stc|swp)/) {
                    print "forbidden transfer: " m " " arg[i]
                } else if (m ~ ("^blx?" cond "$")) {
                    calls[i] = 1
                    if (arg[i] !~ /<(__udivsi3|__aeabi_uidiv)>/) print "call: " m " " arg[i]
                } else if (m ~ ("^b" cond "$") && match(arg[i], /^[0-9a-f]+/)) {
                    target = hex(substr(arg[i], RSTART, RLENGTH))
                    if (target <= addr[i] && target >= first) { nloops++; lo[nloops] = target; hi[nloops] = addr[i] }
                }
            }
            for (i in calls)
                for (l = 1; l <= nloops; l++)
                    if (addr[i] >= lo[l] && addr[i] <= hi[l]) print "call inside a loop: " op[i] " " arg[i]
            printf "loads=%d stores=%d loops=%d\n", loads, stores, nloops
        }' <<< "$code") || { fail "$name: awk failed"; return; }
    local counts=${report##*$'\n'}
    [ "$counts" != "$report" ] && fail "$name: ${report%$'\n'*}"
    local loads stores loops
    read -r loads stores loops <<< "$(sed 's/[a-z]*=//g' <<< "$counts")"
    [ "$loops" -ge 1 ] || fail "$name: no loop found"
    case $want_loads in some) [ "$loads" -ge 1 ] ;; none) [ "$loads" -eq 0 ] ;; esac ||
        fail "$name: $loads word loads, expected $want_loads"
    case $want_stores in some) [ "$stores" -ge 1 ] ;; none) [ "$stores" -eq 0 ] ;; esac ||
        fail "$name: $stores word stores, expected $want_stores"
    if [ "$want_loads" = some ] && [ "$want_stores" = some ] && [ "$loads" -ne "$stores" ]; then
        fail "$name: $loads loads against $stores stores in a copy"
    fi
}

# check_copy_routine NAME: calls memcpy, calls nothing else, copies nothing itself.
check_copy_routine() {
    local name=$1
    local code; code=$(body "$name")
    if [ -z "$code" ]; then fail "$name: not found in the program"; return; fi
    local calls others
    calls=$(awk -F'\t' -v cond="$cond" '$2 ~ ("^blx?" cond "$")' <<< "$code")
    grep -q '<memcpy>' <<< "$calls" || fail "$name: no call of memcpy"
    others=$(grep -v '<memcpy>' <<< "$calls")
    [ -z "$others" ] || fail "$name: calls other than memcpy: $others"
    others=$(awk -F'\t' '$2 ~ /^(ldr|str|ldm|stm|v)/ && $3 !~ /\[(sp|pc)/' <<< "$code")
    [ -z "$others" ] || fail "$name: memory transfers of its own: $others"
}

check_word_kernel word_copy_passes some some
check_word_kernel word_read_passes some none
check_word_kernel word_write_passes none some
check_word_kernel stride_copy some some
check_word_kernel stride_read some some
check_word_kernel stride_write some some
check_copy_routine memcpy_ping_pong
check_copy_routine memcpy_one_way

bench_finish "kernel code: word accesses only, no calls inside the loops" "kernel code"
