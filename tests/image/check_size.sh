#!/usr/bin/env bash
# Checks that an executable stays within its size budget in bytes.
#   check_size.sh EXE BUDGET
set -euo pipefail
size=$(stat -c %s "$1")
echo "$(basename "$1"): $size bytes, budget $2"
[ "$size" -le "$2" ]
