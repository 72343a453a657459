#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the results-server tests and benchmark:
#   pg-cluster.sh start DIR   creates and starts it in DIR, writes its URL to DIR/url
#   pg-cluster.sh stop DIR    stops it
#   pg-cluster.sh down DIR    stops it but keeps it, for a test of a server that went away
#   pg-cluster.sh up DIR      starts it again
# It listens only on a Unix socket in DIR. PostgreSQL refuses to run as root, so as root the
# cluster belongs to and runs as "nobody"; when nobody cannot reach DIR (a private build folder),
# the cluster lives in a folder of its own under /tmp that DIR/real names.
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

real="$dir"
[ -f "$dir/real" ] && real=$(cat "$dir/real")
ctl() { as_owner "$bin/pg_ctl" -D "$real/data" -l "$real/server.log" -w -t 60 "$@"; }
options() { echo "-c listen_addresses='' -c unix_socket_directories='$real' -c fsync=off -c port=5432"; }

case "$cmd" in
start)
    [ -f "$real/data/postmaster.pid" ] && ctl stop -m fast >/dev/null 2>&1 || true
    if [ "$real" != "$dir" ]; then rm -rf "$real"; fi
    rm -rf "$dir"
    mkdir -p "$dir"
    real="$dir"
    if [ "$(id -u)" -eq 0 ]; then
        if setpriv --reuid=nobody --regid=nogroup --clear-groups -- test -x "$dir/.."; then
            chown nobody:nogroup "$dir"
        else
            real=$(mktemp -d /tmp/korva-pg.XXXXXX)
            chmod 755 "$real"
            chown nobody:nogroup "$real"
            echo "$real" >"$dir/real"
        fi
    fi
    as_owner "$bin/initdb" -D "$real/data" -U korva --auth=trust -E UTF8 --locale=C.UTF-8 >"$real/initdb.log"
    # fsync off: a test cluster that dies is thrown away, and the tests do not wait on the disk.
    ctl start -o "$(options)" >/dev/null
    as_owner "$bin/createdb" -h "$real" -U korva korva
    echo "postgresql:///korva?host=$real&user=korva" >"$dir/url"
    ;;
stop)
    [ -f "$real/data/postmaster.pid" ] && ctl stop -m fast >/dev/null || true
    if [ "$real" != "$dir" ]; then rm -rf "$real" "$dir/real"; fi
    ;;
down) ctl stop -m fast >/dev/null ;;
up) ctl start -o "$(options)" >/dev/null ;;
*) echo "usage: pg-cluster.sh start|stop|down|up DIR" >&2; exit 2 ;;
esac
