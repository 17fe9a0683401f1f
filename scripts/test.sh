#!/usr/bin/env bash
# Installs what is missing, builds every tier and runs every test: the host
# tier and the win64 (x86-64) tier everywhere, the win32 (i686) tier where
# the machine can execute 32-bit code. Where it cannot, the win32 tier is
# still built and its checks that run nothing (label "static") are run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
source scripts/i686.sh
qz45_check_i686

# The ODBC tests start a private PostgreSQL server per Windows tier and stop
# it when they end (a CTest fixture, failures included); should ctest itself
# be cut short, the server is stopped here.
stop_servers() {
    for tier in win64 win32; do
        [ -d "build/$tier/postgres" ] && bash scripts/postgres.sh stop "build/$tier/postgres"
    done
    return 0
}
trap stop_servers EXIT

not_run=""
odbc_ran="x86-64 (win64)"
for tier in host win64 win32; do
    echo "== $tier tier"
    cmake --preset "$tier" >/dev/null
    cmake --build --preset "$tier"
    if [ "$tier" = win32 ] && [ "$QZ45_I686_RUNS" != 1 ]; then
        ctest --preset win32 -L static
        not_run="The i686 (win32) programs were built and checked statically but not run: $QZ45_I686_WHY."
    else
        ctest --preset "$tier"
        [ "$tier" = win32 ] && odbc_ran="x86-64 (win64) and i686 (win32)"
    fi
done

echo
if [ -n "$not_run" ]; then
    echo "$not_run"
else
    echo "All three tiers ran: host, win64 (x86-64) and win32 (i686)."
fi
if [ -n "$not_run" ]; then
    echo "The ODBC tests (qz45trail shipping to PostgreSQL) ran for $odbc_ran only; not for i686" \
         "(win32): $QZ45_I686_WHY."
else
    echo "The ODBC tests (qz45trail shipping to PostgreSQL) ran for $odbc_ran."
fi
echo "The review page's browser tests (headless Chromium through WebDriver) ran for x86-64 (win64)."
