#!/bin/sh
# The installed package as its users meet it, one step per ctest test, all in
# <build>/installed-package:
#   tree  install the build (tree/) and check what the tree holds and that
#         every image and import library is of the tier's machine, and that
#         the commands' manifests ask for UTF-8 as their code page; build the
#         example consumer the tree holds against it, as its CMakeLists.txt
#         says (the system and the compiler named, no toolchain file: the
#         archive has none); configure the consumer with the other
#         architecture's compiler, which the package must refuse with a
#         message that says so
#   msvc  build examples/msvc_consumer against tree/ (msvc/), and check that
#         it imports the two exports it calls and nothing else
#   zip   make the release archive with cpack (zip/); it holds the tree
#   run   (Wine) run both consumers next to the installed DLL; each delivers
#         an event to the installed reference service, registered in the
#         tier's prefix, and the trail must hold it, the example's general
#         event with its value; with the trail's folder missing the example
#         prints the failure as qz45event does
# The first three run nothing Windows; msvc, zip and run need tree's result.
# Arguments: step, build dir, source dir, tier (win32|win64), the tier's
# runner, objdump.
set -eu
step=$1 build=$2 src=$3 tier=$4 runner=$5 objdump=$6
work="$build/installed-package"
tree="$work/tree"
case "$tier" in
    win32) format=i386 bits=32 other_bits=64 cc=i686-w64-mingw32-gcc other_cc=x86_64-w64-mingw32-gcc ;;
    win64) format=x86-64 bits=64 other_bits=32 cc=x86_64-w64-mingw32-gcc other_cc=i686-w64-mingw32-gcc ;;
    *) echo "unknown tier $tier"; exit 2 ;;
esac
fail() { echo "$*"; exit 1; }

# Every file of a tree, one relative path a line, sorted; the exported
# targets' per-configuration file under one name.
listing() {
    (cd "$1" && find . -type f | sed 's|^\./||; s|Targets-[a-z]*\.cmake$|Targets-CONFIG.cmake|' | LC_ALL=C sort)
}

# Configures the mingw example consumer against tree/ in <name>/ with the
# given compiler, as the example's CMakeLists.txt says; what CMake said goes
# to <name>.log.
consumer() {  # name compiler
    cmake -S "$tree/examples/consumer" -B "$work/$1" -G Ninja -DCMAKE_SYSTEM_NAME=Windows \
          -DCMAKE_C_COMPILER="$2" -DCMAKE_PREFIX_PATH="$tree" >"$work/$1.log" 2>&1
}

case "$step" in
tree)
    rm -rf "$work"
    mkdir -p "$work"
    cmake --install "$build" --prefix "$tree" >/dev/null
    want=$(LC_ALL=C sort <<EOF
README.txt
bin/qz45_audit_trail.dll
bin/qz45alarmevent_api.dll
bin/qz45event.exe
bin/qz45trail.exe
examples/consumer/CMakeLists.txt
examples/consumer/main.c
include/qz45alarmevent_api.h
include/qz45audit_service.h
lib/cmake/qz45alarmevent_api/qz45alarmevent_apiConfig.cmake
lib/cmake/qz45alarmevent_api/qz45alarmevent_apiConfigVersion.cmake
lib/cmake/qz45alarmevent_api/qz45alarmevent_apiTargets-CONFIG.cmake
lib/cmake/qz45alarmevent_api/qz45alarmevent_apiTargets.cmake
lib/libqz45alarmevent_api.dll.a
lib/qz45alarmevent_api.lib
share/qz45/audit_trail_company.sql
share/qz45/audit_trail_setup.sql
share/qz45/audit_trail_upgrade.sql
share/qz45/shipper-task.xml
EOF
)
    got=$(listing "$tree")
    [ "$got" = "$want" ] || fail "the install tree holds:
$got
expected:
$want"
    # A library of the other architecture would only fail at the caller's link.
    for f in bin/*.dll bin/*.exe lib/libqz45alarmevent_api.dll.a lib/qz45alarmevent_api.lib; do
        for path in "$tree"/$f; do
            formats=$("$objdump" -f "$path" | sed -n 's/.*file format //p' | sort -u)
            [ -n "$formats" ] && ! echo "$formats" | grep -vqx "pei\{0,1\}-$format" ||
                fail "$path: file format $formats, expected pe(i)-$format"
        done
    done
    grep -q "This is the $bits-bit" "$tree/README.txt" || fail "README.txt does not name the $bits-bit build"
    # The commands run with UTF-8 as their code page: their manifests say so.
    for exe in qz45event qz45trail; do
        grep -q 'WindowsSettings">UTF-8</activeCodePage>' "$tree/bin/$exe.exe" ||
            fail "$exe.exe has no manifest with activeCodePage UTF-8"
    done

    consumer consumer "$cc" && cmake --build "$work/consumer" >>"$work/consumer.log" 2>&1 ||
        { cat "$work/consumer.log"; fail "the $tier consumer does not build against the tree"; }

    if consumer other-arch "$other_cc"; then
        fail "a $other_bits-bit consumer was given the $bits-bit package"
    fi
    # CMake wraps the message; read it as one line.
    tr '\n' ' ' <"$work/other-arch.log" | tr -s ' ' |
        grep -q "package is the $bits-bit ([a-z0-9-]*) build; a $other_bits-bit ([a-z0-9-]*) consumer needs the $other_bits-bit package" ||
        { cat "$work/other-arch.log"; fail "no clear refusal"; }
    echo "$tier install tree complete; the $tier consumer builds, a $other_bits-bit one is refused"
    ;;
msvc)
    rm -rf "$work/msvc"
    sh "$src/examples/msvc_consumer/build.sh" "$tree" "$tier" "$work/msvc"
    exe="$work/msvc/qz45_msvc_consumer.exe"
    "$objdump" -f "$exe" | grep -q "file format pei-$format" || fail "$exe is not pei-$format"
    imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p; s/^[[:space:]]*[0-9a-f]\{1,\}[[:space:]]\{1,\}[0-9]\{1,\}[[:space:]]\{1,\}\([A-Za-z_0-9]\{1,\}\)$/\1/p' | tr '\n' ' ')
    [ "$imports" = "qz45alarmevent_api.dll PopulateGeneralSystemEvent SendQZ45Event " ] ||
        fail "the MSVC consumer imports '$imports'"
    echo "$tier MSVC-ABI consumer linked against qz45alarmevent_api.lib"
    ;;
zip)
    rm -rf "$work/zip"
    version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' \
                  "$tree/lib/cmake/qz45alarmevent_api/qz45alarmevent_apiConfigVersion.cmake")
    name="qz45alarmevent_api-$version-$tier"
    (cd "$build" && cpack -G ZIP -B "$work/zip" >"$work/cpack.log" 2>&1) ||
        { cat "$work/cpack.log"; fail "cpack failed"; }
    [ -f "$work/zip/$name.zip" ] || fail "no $name.zip: $(ls "$work/zip")"
    mkdir -p "$work/zip/unpacked"
    (cd "$work/zip/unpacked" && cmake -E tar xf "../$name.zip")
    [ "$(ls "$work/zip/unpacked")" = "$name" ] || fail "$name.zip does not hold one folder $name"
    [ "$(listing "$work/zip/unpacked/$name")" = "$(listing "$tree")" ] ||
        fail "$name.zip and the install tree differ"
    echo "$name.zip holds the install tree"
    ;;
run)
    run="$work/run"
    rm -rf "$run"
    mkdir -p "$run"
    cp "$tree/bin/qz45alarmevent_api.dll" "$work/consumer/qz45_consumer.exe" \
       "$work/msvc/qz45_msvc_consumer.exe" "$run/"
    cd "$run"
    "$runner" regsvr32 /s "$tree/bin/qz45_audit_trail.dll" || fail "regsvr32 of the installed service failed"
    QZ45_AUDIT_TRAIL="$run/trail.jsonl" "$runner" ./qz45_consumer.exe >consumer.out ||
        fail "the example consumer failed: $(cat consumer.out)"
    out=$(tr -d '\r' <consumer.out)
    echo "$out"
    [ "$out" = "consumer: type 26 for FIC101 by PLANT\\operator, value 42.5 (the trail's \"Value\")
consumer: delivered" ] || fail "the example consumer printed something else"
    grep '"RefId":"ticket-7"' "$run/trail.jsonl" | grep -q '"Value":{"type":"VT_R8","value":42.5}' ||
        fail "the trail lacks the example's value 42.5: $(cat "$run/trail.jsonl")"

    # A failure, in qz45event's words.
    missing="$run/no-such-folder/trail.jsonl"
    QZ45_AUDIT_TRAIL="$missing" "$runner" ./qz45_consumer.exe >/dev/null 2>consumer.err &&
        fail "the example consumer delivered to a missing folder"
    QZ45_AUDIT_TRAIL="$missing" "$runner" "$tree/bin/qz45event.exe" send --type 26 --user u \
        --domain d --descriptor FIC101 --property PV 2>qz45event.err && fail "qz45event delivered to a missing folder"
    said() { tr -d '\r' <"$1" | grep -v ':eventlog:' | sed 's/^[a-z0-9_]*: //'; }
    [ "$(said consumer.err)" = "$(said qz45event.err)" ] ||
        fail "the example says of a missing folder:
$(said consumer.err)
qz45event says:
$(said qz45event.err)"

    status=0
    QZ45_AUDIT_TRAIL="$run/trail.jsonl" "$runner" ./qz45_msvc_consumer.exe || status=$?
    [ "$status" -eq 0 ] || fail "the MSVC consumer exited with $status"
    for ref in ticket-7 msvc-consumer-1; do
        grep -q "\"RefId\":\"$ref\"" "$run/trail.jsonl" ||
            fail "the trail lacks the event $ref: $(cat "$run/trail.jsonl" 2>&1)"
    done
    echo "$tier example and MSVC-ABI consumers delivered their events to the installed service; the example says a failure as qz45event does"
    ;;
*) fail "unknown step $step" ;;
esac
