#!/usr/bin/env bash
# Installs what is missing, builds both tiers and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

for tier in host win32; do
    echo "== $tier tier"
    cmake --preset "$tier" >/dev/null
    cmake --build --preset "$tier"
    ctest --preset "$tier"
done
