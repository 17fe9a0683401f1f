#!/bin/sh
# Runs a Windows program under Wine in a private prefix.
#
# QZ45_WINE_ARCH picks the architecture: win32 (the default) runs 32-bit
# programs with the `wine` launcher; win64 runs 64-bit programs with the
# 64-bit loader itself (QZ45_WINE64_LOADER, else found in the wine64 package),
# since the launcher prefers the 32-bit loader, which cannot start on
# machines that execute 64-bit code only.
#
# The prefix is QZ45_WINEPREFIX, or wineprefix/ in the current folder; it is
# created on first use, quietly. Each build tier has a runner of its own
# (<build>/wine-run) that sets both.
set -e
prefix="${QZ45_WINEPREFIX:-$PWD/wineprefix}"
case "$prefix" in /*) ;; *) prefix="$PWD/$prefix" ;; esac
export WINEPREFIX="$prefix"
case "${QZ45_WINE_ARCH:-win32}" in
    win32)
        export WINEARCH=win32
        loader=wine
        ;;
    win64)
        export WINEARCH=win64
        loader="${QZ45_WINE64_LOADER:-$(dpkg -L wine64 2>/dev/null | grep '/wine/wine64$' || true)}"
        [ -x "$loader" ] || { echo "wine-run: no 64-bit Wine loader (install wine64)" >&2; exit 127; }
        export WINELOADER="$loader"
        ;;
    *)
        echo "wine-run: QZ45_WINE_ARCH must be win32 or win64" >&2
        exit 2
        ;;
esac
# Wine's own chatter off; the event log's error channel stays on, since the
# library reports delivery failures there.
export WINEDEBUG="${WINEDEBUG:--all,err+eventlog}"
# No cached BSTRs in oleaut32: a double free or a leak shows.
export OANOCACHE=1
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$prefix/.qz45-ready" ]; then
    mkdir -p "$prefix"
    (
        flock 9
        if [ ! -f "$prefix/.qz45-ready" ]; then
            "$loader" wineboot.exe -i >/dev/null 2>&1 || true
            wineserver -w || true
            touch "$prefix/.qz45-ready"
        fi
    ) 9>"$prefix.lock"
fi
exec "$loader" "$@"
