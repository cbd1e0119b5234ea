#!/usr/bin/env bash
# The weight of the tests: the lines of the product (service/*.cpp, *.h)
# against those of everything under tests/, the stand-in among them. Fails
# when the tests weigh more than the budget, a ratio, allows.
#   weight.sh SOURCE_DIR BUDGET
set -euo pipefail
cd "$1"
budget=$2
lines() { cat "$@" | wc -l; }
product=$(lines service/*.cpp service/*.h)
standin=$(lines tests/host/stub/*)
tests=$(find tests -type f -print0 | xargs -0 cat | wc -l)
ratio=$(awk -v t="$tests" -v p="$product" 'BEGIN { printf "%.2f", t / p }')
echo "product $product lines, stand-in $standin, tests $tests in all: $ratio times the product, budget $budget"
awk -v r="$ratio" -v b="$budget" 'BEGIN { exit !(r <= b) }'
