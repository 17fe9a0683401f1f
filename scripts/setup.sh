#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12 (bookworm), as root.
# Idempotent: whatever is already present is left alone.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    added_arch=1
fi

# Both Windows architectures: mingw-w64 for i686 and x86-64 (the compilers of
# the win32 thread model, whose C++ runtime needs no threading library), 32-
# and 64-bit Wine (wine32 installs on machines that cannot run it too; the
# scripts find out whether it runs). llvm-14 makes the MSVC import library;
# lld links the MSVC-ABI consumer of the install test.
for p in g++-mingw-w64-i686-win32 mingw-w64-i686-dev g++-mingw-w64-x86-64-win32 \
         mingw-w64-x86-64-dev wine wine32:i386 wine64 cmake ninja-build googletest g++ clang \
         lld llvm-14 libclang-rt-14-dev libcli11-dev nlohmann-json3-dev \
         postgresql postgresql-client unixodbc odbc-postgresql libboost-dev \
         chromium chromium-driver python3-selenium curl; do
    have_pkg "$p" || need+=("$p")
done

# PostgreSQL, unixODBC and its PostgreSQL driver for the tests of qz45trail's
# shipping, which start a private server of their own (scripts/postgres.sh):
# no cluster of the system's is made when the server is installed. Boost
# (header-only Beast and Asio) for qz45trail's review page; Chromium, its
# WebDriver and Selenium for the page's tests in a real browser.
if ! have_pkg postgresql-common; then
    mkdir -p /etc/postgresql-common
    grep -qs '^create_main_cluster' /etc/postgresql-common/createcluster.conf ||
        echo 'create_main_cluster = false' >>/etc/postgresql-common/createcluster.conf
fi

if [ "${#need[@]}" -gt 0 ] || [ -n "${added_arch:-}" ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    updated=1
    if [ "${#need[@]}" -gt 0 ]; then
        apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
    fi
fi

# The i686 ODBC tests: the 32-bit unixODBC library and PostgreSQL driver,
# which 32-bit Wine's odbc32 loads. libpq5 is one library for both
# architectures, so its i386 build must be the very version of the amd64 one
# installed above; without the pin apt may take a newer i386 build and
# upgrade the amd64 library (and the server and client with it) to match.
i386_odbc=()
for p in libodbc2:i386 odbc-postgresql:i386 libpq5:i386; do
    have_pkg "$p" || i386_odbc+=("$p")
done
if [ "${#i386_odbc[@]}" -gt 0 ]; then
    libpq=$(dpkg-query -W -f='${Version}' libpq5:amd64)
    export DEBIAN_FRONTEND=noninteractive
    [ -n "${updated:-}" ] || apt-get update -qq
    apt-get install -y -qq --no-install-recommends libodbc2:i386 odbc-postgresql:i386 \
        "libpq5:i386=$libpq" >/dev/null
fi

echo "setup: toolchain ready (mingw-w64 $(x86_64-w64-mingw32-g++-win32 -dumpversion)," \
     "$(/usr/lib/wine/wine64 --version 2>/dev/null || echo 'no 64-bit Wine'))"
