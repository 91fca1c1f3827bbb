#!/usr/bin/env bash
# Builds rekmo, rekmo-inspect and rekmo-copybook (nothing else: no tests, no
# benchmarks), converts the bundled customer master and shows the CSV,
# converted from Shift_JIS to UTF-8 for the terminal.
set -euo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n== %s\n' "$*"; }

step "Configuring the build (build/example)"
if ! log=$(cmake --preset example 2>&1); then
    printf '%s\n' "$log" >&2
    exit 1
fi
step "Building rekmo, rekmo-inspect and rekmo-copybook"
cmake --build --preset example

step "Converting examples/customers.bin with examples/customers.fmt"
build/example/rekmo examples/customers.bin build/example/customers.csv examples/customers.fmt
echo "build/example/customers.csv (Shift_JIS), shown in UTF-8:"
iconv -f CP932 -t UTF-8 build/example/customers.csv
step "Next"
echo "See each item of the first records: build/example/inspect/rekmo-inspect examples/customers.fmt examples/customers.bin"
