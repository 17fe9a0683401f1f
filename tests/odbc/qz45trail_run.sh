# Sourced by the ODBC cases: run and expect, for qz45trail under Wine ($W),
# each run's output appended to $log, a failed expectation reported by bad.
#
# run ARGS...: qz45trail with ARGS; sets $out (stdout and stderr), $raw (the
# same with Wine's carriage returns) and $code.
run() {
    raw=$("$W" qz45trail.exe "$@" 2>&1)
    code=$?
    out=$(printf '%s' "$raw" | tr -d '\r')
    printf '%s\n' "$out" >>"$log"
}
# expect CODE PATTERN WHAT: the last run exited CODE and printed PATTERN.
expect() {
    if [ "$code" -ne "$1" ] || ! printf '%s\n' "$out" | grep -q -- "$2"; then
        bad "$3: exit $code, printed:"
        printf '%s\n' "$out" | sed 's/^/    /' | head -20
        echo "  expected exit $1 and: $2"
    fi
}
