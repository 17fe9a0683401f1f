#!/usr/bin/env bash
# A private PostgreSQL server for the tests that ship a trail through ODBC:
# its data, socket and ODBC configuration live in DIR (a folder of the build
# tree), it listens on 127.0.0.1 only, on a port of its own, and runs as the
# postgres user (PostgreSQL refuses to run as root).
#
#   postgres.sh init DIR [ARCH]   wipe DIR, create the cluster, the roles of
#                                 the plant set-up and a database, start the
#                                 server, and write DIR/env (see below); ARCH
#                                 (amd64 or i386) picks the ODBC driver, amd64
#                                 by default
#   postgres.sh start DIR         start the server of an initialised DIR again
#   postgres.sh stop DIR          stop it (nothing to do when it is not running)
#
# The roles, each with a password of its own: qz45_admin owns the database
# (and the tables it makes), qz45_shipper may only SELECT and INSERT once the
# tables are made with their grants (qz45trail schema), qz45_auditor may only
# SELECT, qz45_reviewer may SELECT and record reviews, and qz45_super is a
# superuser, for the tests that play one.
#
# DIR/env, for sh's ".": QZ45_ODBC (the shipper's DSN-less connection string),
# QZ45_ODBC_AUDITOR and QZ45_ODBC_REVIEWER (the others'), ODBCSYSINI and ODBCINI (the private
# unixODBC configuration, read inside the Wine process too), PGHOST, PGPORT,
# PGDATABASE, PGUSER, PGPASSWORD for psql as the admin, and QZ45_SHIPPER_PW,
# QZ45_AUDITOR_PW, QZ45_SUPER_PW.
set -euo pipefail

cmd=${1:-} dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: postgres.sh init|start|stop DIR [ARCH]" >&2; exit 2; }
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
data=$dir/data
log=$dir/server.log

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1 || true)
if [ -z "$bindir" ] || [ ! -x "$bindir/pg_ctl" ]; then
    echo "postgres.sh: PostgreSQL is not installed (bash scripts/setup.sh installs it)" >&2
    exit 1
fi

# As the postgres user when run as root; as oneself otherwise.
as_server() {
    if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

stop() {
    if [ -f "$data/postmaster.pid" ]; then
        as_server "$bindir/pg_ctl" -D "$data" -m fast -w -t 60 stop >/dev/null 2>&1 || true
    fi
}

# Starts the server on DIR/port; "quiet" leaves a failure's report to the
# caller. The lock of pick_port is not handed on to the server (9>&-).
start() {
    local port
    port=$(cat "$dir/port")
    if ! as_server "$bindir/pg_ctl" -D "$data" -l "$log" -w -t 60 \
            -o "-c listen_addresses=127.0.0.1 -p $port -k $dir" start >/dev/null 9>&-; then
        if [ "${1:-}" != quiet ]; then
            echo "postgres.sh: the server did not start on 127.0.0.1:$port; its log:" >&2
            tail -20 "$log" >&2 || true
        fi
        return 1
    fi
}

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# Picks a free port and starts the server on it. Ports come from 20000-31999,
# below the kernel's ephemeral range (32768 and up on Debian), from which
# every client connection and every listener on port 0 take theirs; the first
# one tried differs between build trees. Trees set up at the same time pick
# and start one after the other (a lock on a file beside the system's
# temporary files); a port taken between the look and the bind moves the
# server on to the next one.
pick_port_and_start() {
    local port tries
    exec 9>"${TMPDIR:-/tmp}/qz45-postgres-ports.lock"
    flock -w 300 9 || { echo "postgres.sh: waited 300 s for another set-up to start its server" >&2; return 1; }
    port=$(( 20000 + $(printf '%s' "$dir" | cksum | cut -d' ' -f1) % 12000 ))
    for tries in $(seq 100); do
        if port_free "$port"; then
            echo "$port" >"$dir/port"
            rm -f "$log"
            if start quiet; then
                exec 9>&-
                return 0
            fi
            grep -q "could not bind\|could not create any TCP/IP sockets" "$log" 2>/dev/null || {
                start   # not a port taken: report the server's own failure
                exec 9>&-
                return 1
            }
        fi
        port=$(( port + 1 ))
        [ "$port" -lt 32000 ] || port=20000
    done
    exec 9>&-
    echo "postgres.sh: no free port found from $port on 127.0.0.1" >&2
    return 1
}

case "$cmd" in
stop)
    stop
    ;;
start)
    [ -f "$dir/port" ] || { echo "postgres.sh: $dir was not initialised (postgres.sh init)" >&2; exit 1; }
    start
    ;;
init)
    arch=${3:-amd64}
    driver=$(dpkg -L "odbc-postgresql:$arch" 2>/dev/null | grep '/psqlodbcw\.so$' | head -1 || true)
    if [ -z "$driver" ]; then
        echo "postgres.sh: the PostgreSQL ODBC driver for $arch is not installed (odbc-postgresql:$arch)" >&2
        exit 1
    fi
    stop
    rm -rf "$data" "$dir/odbc" "$dir/env" "$dir/port"
    mkdir -p "$data" "$dir/odbc"
    chown postgres: "$dir" "$data" 2>/dev/null || true
    chmod 700 "$data"
    as_server "$bindir/initdb" -D "$data" -U postgres -A peer --auth-host=scram-sha-256 \
        -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 || {
        echo "postgres.sh: initdb failed:" >&2; tail -20 "$dir/initdb.log" >&2; exit 1; }

    pick_port_and_start
    port=$(cat "$dir/port")

    pw() { od -An -N12 -tx1 /dev/urandom | tr -d ' \n'; }
    admin_pw=$(pw) shipper_pw=$(pw) auditor_pw=$(pw) reviewer_pw=$(pw) super_pw=$(pw)
    database=qz45_audit
    as_server "$bindir/psql" -X -q -h "$dir" -p "$port" -U postgres -d postgres -v ON_ERROR_STOP=1 \
        -v admin_pw="$admin_pw" -v shipper_pw="$shipper_pw" -v auditor_pw="$auditor_pw" \
        -v reviewer_pw="$reviewer_pw" -v super_pw="$super_pw" -v database="$database" <<'SQL'
CREATE ROLE qz45_admin LOGIN PASSWORD :'admin_pw';
CREATE ROLE qz45_shipper LOGIN PASSWORD :'shipper_pw';
CREATE ROLE qz45_auditor LOGIN PASSWORD :'auditor_pw';
CREATE ROLE qz45_reviewer LOGIN PASSWORD :'reviewer_pw';
CREATE ROLE qz45_super LOGIN SUPERUSER PASSWORD :'super_pw';
CREATE DATABASE :"database" OWNER qz45_admin ENCODING 'UTF8' TEMPLATE template0;
SQL

    printf '[PostgreSQL Unicode]\nDescription=PostgreSQL ODBC driver (Unicode)\nDriver=%s\n' \
        "$driver" >"$dir/odbc/odbcinst.ini"
    : >"$dir/odbc/odbc.ini"
    conn="Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$port;Database=$database"
    cat >"$dir/env" <<EOF
QZ45_ODBC='$conn;Uid=qz45_shipper;Pwd=$shipper_pw;'
QZ45_ODBC_AUDITOR='$conn;Uid=qz45_auditor;Pwd=$auditor_pw;'
QZ45_ODBC_REVIEWER='$conn;Uid=qz45_reviewer;Pwd=$reviewer_pw;'
QZ45_SHIPPER_PW=$shipper_pw QZ45_AUDITOR_PW=$auditor_pw QZ45_SUPER_PW=$super_pw
ODBCSYSINI='$dir/odbc'
ODBCINI='$dir/odbc/odbc.ini'
PGHOST=127.0.0.1 PGPORT=$port PGDATABASE=$database PGUSER=qz45_admin PGPASSWORD=$admin_pw
export QZ45_ODBC QZ45_ODBC_AUDITOR QZ45_ODBC_REVIEWER QZ45_SHIPPER_PW QZ45_AUDITOR_PW QZ45_SUPER_PW ODBCSYSINI ODBCINI
export PGHOST PGPORT PGDATABASE PGUSER PGPASSWORD
EOF
    echo "postgres.sh: PostgreSQL $("$bindir/postgres" -V | awk '{print $3}') on 127.0.0.1:$port" \
         "(data in $data), ODBC driver $driver"
    ;;
*)
    echo "usage: postgres.sh init|start|stop DIR [ARCH]" >&2
    exit 2
    ;;
esac
