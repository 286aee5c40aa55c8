#!/usr/bin/env bash
# Replays a fuzz target's starting seeds and every input kept because it once found a fault.
#   replay_test.sh SEED_WRITER TARGET_BINARY TARGET REGRESSIONS_DIR
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/seeds"
"$1" "$3" "$work/seeds"
inputs=("$work/seeds")
[[ -d "$4" ]] && inputs+=("$4")
# Whatever a target writes goes under the work directory, even when it aborts.
TMPDIR=$work "$2" "${inputs[@]}"
