#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12 (bookworm), as root.
# Idempotent: whatever is already present is left alone.
set -euo pipefail

# A mirror being synchronised answers with index files of the wrong size for a
# while ("Mirror sync in progress?"): the update is tried again, up to three
# times half a minute apart. After that the set-up goes on with the index
# files that did arrive (apt keeps them), and an install that needs a
# missing one fails with apt's own message.
apt_update() {
    local try
    for try in 1 2 3; do
        apt-get update -qq && return 0
        [ "$try" = 3 ] || { echo "setup.sh: apt-get update failed (try $try of 3); again in 30 s" >&2; sleep 30; }
    done
    echo "setup.sh: apt-get update failed 3 times; going on with the package lists that arrived" >&2
}

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    added_arch=1
fi

# Both Windows architectures: mingw-w64 for i686 and x86-64 (the compilers of
# the win32 thread model, whose C++ runtime needs no threading library), and
# 64-bit Wine (32-bit Wine comes below). llvm-14 makes the MSVC import
# library; lld links the MSVC-ABI consumer of the install test.
for p in g++-mingw-w64-i686-win32 mingw-w64-i686-dev g++-mingw-w64-x86-64-win32 \
         mingw-w64-x86-64-dev wine wine64 cmake ninja-build googletest g++ clang \
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
    apt_update
    updated=1
    if [ "${#need[@]}" -gt 0 ]; then
        apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
    fi
fi

# What runs the i686 tier: 32-bit Wine (it installs on machines that cannot
# run it too; scripts/i686.sh finds out whether it runs), and for the i686
# ODBC tests the 32-bit unixODBC library and PostgreSQL driver, which 32-bit
# Wine's odbc32 loads. libpq5 is one library for both architectures, so its
# i386 build must be the very version of the amd64 one installed above;
# without the pin apt may take a newer i386 build and upgrade the amd64
# library (and the server and client with it) to match. They go in together
# or not at all: where the package lists at hand cannot give them (an i386
# list missing while a mirror is synchronised), the set-up says so and goes
# on, and the tests build the i686 tier without running it, and say why.
i386=()
for p in wine32:i386 libodbc2:i386 odbc-postgresql:i386 libpq5:i386; do
    have_pkg "$p" || i386+=("$p")
done
if [ "${#i386[@]}" -gt 0 ]; then
    libpq=$(dpkg-query -W -f='${Version}' libpq5:amd64)
    export DEBIAN_FRONTEND=noninteractive
    [ -n "${updated:-}" ] || apt_update
    if ! apt-get install -y -qq --no-install-recommends wine32:i386 libodbc2:i386 \
            odbc-postgresql:i386 "libpq5:i386=$libpq" >/dev/null; then
        echo "setup: the 32-bit packages (${i386[*]}) could not be installed from the" \
             "package lists at hand; the i686 tier will be built and checked, not run" >&2
    fi
fi

# axe-core, the accessibility rules the review page's browser tests run on
# every page, from the npm registry into a folder of its own that the tests
# look in (tests/odbc/review_print.py); kept once there.
axe_dir=${QZ45_AXE_DIR:-/usr/local/share/qz45/axe}
if [ ! -f "$axe_dir/node_modules/axe-core/axe.min.js" ]; then
    # npm as the machine has it, else Debian's.
    command -v npm >/dev/null || { export DEBIAN_FRONTEND=noninteractive; [ -n "${updated:-}" ] || apt_update;
                                   apt-get install -y -qq --no-install-recommends npm >/dev/null; }
    mkdir -p "$axe_dir"
    npm install --silent --no-audit --no-fund --prefix "$axe_dir" axe-core@4 >/dev/null
fi

echo "setup: toolchain ready (mingw-w64 $(x86_64-w64-mingw32-g++-win32 -dumpversion)," \
     "$(/usr/lib/wine/wine64 --version 2>/dev/null || echo 'no 64-bit Wine'))"
