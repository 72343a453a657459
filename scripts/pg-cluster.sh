#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the results-server tests and benchmark:
#   pg-cluster.sh start DIR   creates and starts it in DIR, writes its URL to DIR/url
#   pg-cluster.sh stop DIR    stops it
#   pg-cluster.sh down DIR    stops it but keeps it, for a test of a server that went away
#   pg-cluster.sh up DIR      starts it again
# It listens only on a Unix socket in DIR. PostgreSQL refuses to run as root, so as root the
# cluster belongs to and runs as "nobody".
set -euo pipefail
cmd=$1
dir=$(realpath -m "$2")
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bin/initdb" ] || { echo "pg-cluster: no PostgreSQL server installed (Debian package postgresql)" >&2; exit 1; }

as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env -- "$@"
    else
        "$@"
    fi
}

ctl() { as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 "$@"; }

case "$cmd" in
start)
    [ -f "$dir/data/postmaster.pid" ] && ctl stop -m fast >/dev/null 2>&1 || true
    rm -rf "$dir"
    mkdir -p "$dir"
    [ "$(id -u)" -eq 0 ] && chown nobody:nogroup "$dir"
    as_owner "$bin/initdb" -D "$dir/data" -U korva --auth=trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log"
    # fsync off: a test cluster that dies is thrown away, and the tests do not wait on the disk.
    ctl start -o "-c listen_addresses='' -c unix_socket_directories='$dir' -c fsync=off -c port=5432" >/dev/null
    as_owner "$bin/createdb" -h "$dir" -U korva korva
    echo "postgresql:///korva?host=$dir&user=korva" >"$dir/url"
    ;;
stop) [ -f "$dir/data/postmaster.pid" ] && ctl stop -m fast >/dev/null || true ;;
down) ctl stop -m fast >/dev/null ;;
up) ctl start -o "-c listen_addresses='' -c unix_socket_directories='$dir' -c fsync=off -c port=5432" >/dev/null ;;
*) echo "usage: pg-cluster.sh start|stop|down|up DIR" >&2; exit 2 ;;
esac
