# Sourced by the scripts: finds out whether this machine can execute the
# i686 (32-bit) tier's programs, by running a 32-bit program: the 32-bit Wine
# loader. Some x86-64 machines run 64-bit code only; there it fails with
# "Exec format error" and only the 64-bit tier can run.
#
# Sets QZ45_I686_RUNS (1 or 0) and, when 0, QZ45_I686_WHY (one phrase).
# QZ45_SKIP_I686=1 makes it answer 0, as on such a machine.
qz45_check_i686() {
    QZ45_I686_RUNS=0
    if [ "${QZ45_SKIP_I686:-0}" = 1 ]; then
        QZ45_I686_WHY="QZ45_SKIP_I686=1 is set"
        return
    fi
    local loader out rc=0
    loader=$(dpkg -L wine32 2>/dev/null | grep '/wine/wine$' | head -1 || true)
    if [ -z "$loader" ] || [ ! -x "$loader" ]; then
        QZ45_I686_WHY="32-bit Wine (wine32:i386) is not installed"
        return
    fi
    out=$("$loader" --version 2>&1) || rc=$?
    if [ "$rc" -eq 0 ]; then
        QZ45_I686_RUNS=1
    elif [ "$rc" -eq 126 ] || printf '%s' "$out" | grep -q 'Exec format error'; then
        QZ45_I686_WHY="this machine cannot execute 32-bit code (the 32-bit Wine loader fails with \"Exec format error\")"
    else
        QZ45_I686_WHY="the 32-bit Wine loader fails (exit $rc: $(printf '%s' "$out" | head -1))"
    fi
}
