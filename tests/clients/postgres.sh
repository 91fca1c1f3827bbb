#!/usr/bin/env bash
# A throwaway PostgreSQL server for the client tests, in a folder of its own:
# no TCP port, only a Unix socket in that folder, no durable writes.
#
#   tests/clients/postgres.sh start DIR   # prints the connection string (REKMO_PG)
#   tests/clients/postgres.sh stop DIR    # stops it and removes DIR
#
# Run as root (as CI is), the server runs as the user postgres, which Debian's
# postgresql package creates; run as anyone else, as that user.
set -euo pipefail

usage() { echo "usage: $0 start|stop DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
action=$1
dir=$2

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bindir" ] && command -v pg_ctl >/dev/null; then
    bindir=$(dirname "$(command -v pg_ctl)")
fi
[ -n "$bindir" ] && [ -x "$bindir/initdb" ] || { echo "$0: no PostgreSQL server programs (Debian: apt-get install postgresql)" >&2; exit 1; }

as_owner() {
    if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

case $action in
start)
    mkdir -p "$dir"
    [ "$(id -u)" -ne 0 ] || chown postgres: "$dir"
    chmod 700 "$dir"
    if ! as_owner "$bindir/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --locale=C >"$dir/initdb.log" 2>&1; then
        cat "$dir/initdb.log" >&2
        exit 1
    fi
    cat >>"$dir/data/postgresql.conf" <<EOF
listen_addresses = ''
unix_socket_directories = '$dir'
fsync = off
synchronous_commit = off
full_page_writes = off
EOF
    if ! as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null; then
        cat "$dir/server.log" >&2
        exit 1
    fi
    echo "host=$dir user=postgres dbname=postgres"
    ;;
stop)
    if [ -f "$dir/data/postmaster.pid" ]; then
        as_owner "$bindir/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null
    fi
    rm -rf "$dir"
    ;;
*)
    usage
    ;;
esac
