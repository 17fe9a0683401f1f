#!/bin/sh
# Builds consumer.c the way an MSVC user links the library: MSVC ABI, the
# installed header and qz45alarmevent_api.lib, no C runtime, no Windows SDK.
# Done here with clang and lld-link; with MSVC itself it is
#   cl /c /GS- /I <tree>\include consumer.c
#   link /nodefaultlib /entry:qz45_consumer_entry /subsystem:console
#        consumer.obj <tree>\lib\qz45alarmevent_api.lib
# Arguments: install tree, win32 or win64, output folder.
# Writes <output>/qz45_msvc_consumer.exe.
set -eu
tree=$1 tier=$2 out=$3
case "$tier" in
    win32) target=i686-pc-windows-msvc ;;
    win64) target=x86_64-pc-windows-msvc ;;
    *) echo "build.sh: the tier is win32 or win64, not '$tier'" >&2; exit 2 ;;
esac
lld_link=${LLD_LINK:-$(command -v lld-link || echo /usr/lib/llvm-14/bin/lld-link)}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
clang --target="$target" -ffreestanding -fno-stack-protector -O2 -Wall -Wextra -Werror \
      -I "$tree/include" -c "$here/consumer.c" -o "$out/consumer.obj"
"$lld_link" /nologo /nodefaultlib /entry:qz45_consumer_entry /subsystem:console \
            /out:"$out/qz45_msvc_consumer.exe" "$out/consumer.obj" \
            "$tree/lib/qz45alarmevent_api.lib"
