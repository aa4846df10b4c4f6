#!/usr/bin/env bash
# board_script_test.sh - scripts/board itself: bad command lines, a board that does not come up in
# time, and a command whose words, status and files must come back unchanged.
# Arguments: scripts/board, the ARM archive.
set -uo pipefail
board=$1
archive=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/board-script-test.XXXXXX") || exit 1
trap 'rm -rf -- "${work:?}"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Refused before anything boots: status 125 and one line naming the fault.
mkdir "$work/taken"
while IFS='|' read -r label want args; do
    # shellcheck disable=SC2086
    "$board" $args >"$work/stdout" 2>"$work/stderr"
    s=$?
    [ "$s" -eq 125 ] || fail "$label: status $s, not 125"
    [ "$(wc -l <"$work/stderr")" -eq 1 ] && grep -qxF "board: $want" "$work/stderr" ||
        fail "$label: expected the one line 'board: $want', got: $(cat "$work/stderr")"
done <<EOT
limit not a number|option -w needs a whole number of seconds from 1 to 999999, not 'ten'|-w ten true
limit zero|option -t needs a whole number of seconds from 1 to 999999, not '0'|-t 0 true
unknown option|unknown option -x (scripts/board -h lists the options)|-x true
option without value|option -a needs a value|-a
no archive|no such archive: $work/none.tar.gz|-a $work/none.tar.gz true
results folder exists|results folder exists already, not overwritten: $work/taken|-a $archive -o $work/taken true
EOT

# A board that cannot come up in time is stopped, with one line, long before any test timeout.
start=$SECONDS
mkdir "$work/tmp"
TMPDIR=$work/tmp "$board" -a "$archive" -o "$work/late" -w 1 true >"$work/stdout" 2>"$work/stderr"
s=$?
[ "$s" -eq 125 ] || fail "late board: status $s, not 125"
[ "$(tail -n 1 "$work/stderr")" = "board: the board did not come up within 1 s" ] ||
    fail "late board: last line is '$(tail -n 1 "$work/stderr")'"
[ $((SECONDS - start)) -lt 60 ] || fail "late board: stopping took $((SECONDS - start)) s"
pgrep -f "$work/tmp/" >/dev/null && fail "late board: qemu is still running"

# Words with quotes, blanks and dollars reach the command unchanged; its status and the files it
# left in its folder, in subfolders too, come back.
"$board" -a "$archive" -o "$work/words" -w 180 -t 300 sh -c 'mkdir -p sub && printf "<%s>\n" "$@" >sub/args.txt; exit 7' sh "it's" 'a  b' '$HOME' '' >"$work/console" 2>&1
s=$?
[ "$s" -eq 7 ] || { fail "command status: $s, not 7"; tail -n 5 "$work/console" >&2; }
printf '<%s>\n' "it's" 'a  b' '$HOME' '' >"$work/want-args.txt"
cmp -s "$work/want-args.txt" "$work/words/sub/args.txt" || fail "command words: got $(cat "$work/words/sub/args.txt" 2>/dev/null)"
grep -q '^board: up after [0-9.]* s$' "$work/console" || fail "the console does not show the board coming up"

[ "$failures" -eq 0 ] || { echo "board script test: $failures failures" >&2; exit 1; }
echo "board script test: command lines, time limit, words, status and files checked"
