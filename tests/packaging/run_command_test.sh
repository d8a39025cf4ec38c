#!/usr/bin/env bash
# The run command's part after the build (scripts/run-app) without a display: it runs the application under an X
# server of its own until the device is "Up to Date" and leaves a screenshot of the window (exit 0), or says why it
# did not get there in time (exit 1); either way every process it started has ended and the web API was stopped.
# Usage: run_command_test.sh <build-dir> <source-dir>
set -uo pipefail
build="$1"
source="$2"

scratch="$(mktemp -d /tmp/packaging-run-test.XXXXXX)"
trap 'rm -rf "$scratch"' EXIT

failures=0
fail() { echo "FAIL ($case): $*" >&2; failures=$((failures + 1)); }

# case | extra arguments | exit status | a line the output must hold
cases=(
    "synced|--timeout 120|0|Screenshot of the window: $scratch/synced.png"
    "too little time|--timeout 1|1|did not reach \"Up to Date\" within 1 s"
)

for c in "${cases[@]}"; do
    IFS='|' read -r case arguments expected_status expected_line <<< "$c"
    shot="$scratch/${case// /-}.png"

    # shellcheck disable=SC2086  # the arguments are words
    env -u DISPLAY "$source/scripts/run-app" "$build" --screenshot "$shot" $arguments > "$scratch/out" 2>&1
    status=$?
    [ "$status" -eq "$expected_status" ] || fail "exit status $status, expected $expected_status"
    grep -qF "$expected_line" "$scratch/out" || fail "no line \"$expected_line\""

    if [ "$expected_status" -eq 0 ]; then
        read -r width height < <(identify -format '%w %h\n' "$shot" 2>/dev/null) || true
        [ "${width:-0}" -ge 300 ] && [ "${height:-0}" -ge 200 ] || fail "no screenshot of the window in $shot"
    else
        [ ! -e "$shot" ] || fail "a screenshot although it did not get there"
    fi

    [ "$(tail -n 1 "$build/run-logs/webapi.log")" = "stopped" ] || fail "the web API was not stopped"
    while read -r pid command; do
        ! kill -0 "$pid" 2>/dev/null || fail "still running: $pid $command"
    done < "$build/run-logs/processes"

    [ "$failures" -eq 0 ] || { echo "--- its output:"; cat "$scratch/out"; }
done

[ "$failures" -eq 0 ] && echo "the run command works without a display"
exit $((failures > 0))
