#!/usr/bin/env bash
# Builds rekmo (release preset), converts the bundled customer master and
# shows the CSV, converted from Shift_JIS to UTF-8 for the terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! log=$(cmake --workflow --preset release 2>&1); then
    printf '%s\n' "$log" >&2
    exit 1
fi
build/release/rekmo examples/customers.bin build/release/customers.csv examples/customers.fmt
echo "build/release/customers.csv (Shift_JIS), shown in UTF-8:"
iconv -f CP932 -t UTF-8 build/release/customers.csv
