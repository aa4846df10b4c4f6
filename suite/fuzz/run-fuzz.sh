#!/usr/bin/env bash
# run-fuzz.sh - runs one fuzz target on seeds from the captured fixtures. Arguments: the target,
# the fixture folder, the folder for findings, then libFuzzer options (-runs=N, -max_total_time=S).
# The corpus grows in a scratch folder, or in FUZZ_CORPUS when that names a folder to keep.
# A finding is kept in the findings folder and fails the run.
set -euo pipefail
target=$1
fixtures=$2
findings=$3
shift 3
name=$(basename "$target")
tmp=$(mktemp -d)
trap 'rm -rf -- "${tmp:?}"' EXIT
corpus=${FUZZ_CORPUS:-$tmp/corpus}
mkdir -p "$corpus" "$tmp/seeds" "$findings"

# The folder target reads a whole folder from one input: each file its name on the first line,
# then its content, the files separated by NUL bytes. The others get every captured file.
for run in "$fixtures"/*/; do
    if [ "$name" = fuzz_folder ]; then
        for file in "$run"*; do
            printf '%s\n' "$(basename "$file")"
            cat "$file"
            printf '\0'
        done >"$tmp/seeds/$(basename "$run")"
    else
        for file in "$run"*; do
            cp "$file" "$tmp/seeds/$(basename "$run")-$(basename "$file")"
        done
    fi
done

if ! "$target" -artifact_prefix="$findings/$name-" -max_len=16384 -print_final_stats=1 "$@" "$corpus" \
    "$tmp/seeds" 2>"$tmp/log"; then
    tail -n 40 "$tmp/log"
    echo "FAIL: $name found a fault; the input is kept in $findings"
    exit 1
fi
grep -E '^stat::number_of_executed_units|^Done ' "$tmp/log" || true
echo "$name: no finding"
