#!/usr/bin/env bash
# Starts or stops a private Firebird server that listens on 127.0.0.1 only, with its own root,
# security database and lock directory, so it never touches the system's Firebird setup.
#
#   scripts/firebird_server.sh start <dir> <port> [password]   (SYSDBA password, default pinewheat)
#   scripts/firebird_server.sh stop <dir>
#
# <dir> receives root/ (FIREBIRD), lock/ (FIREBIRD_LOCK), security3.fdb, server.log and
# server.pid. "start" returns once the port accepts connections; "stop" ends the server by the
# PID recorded by "start" and nothing else.
set -euo pipefail

FB_LIBDIR=/usr/lib/x86_64-linux-gnu/firebird/3.0
FB_INTL_CONF=/etc/firebird/3.0/fbintl.conf
FB_SERVER=/usr/sbin/firebird

usage() {
    echo "usage: $0 start <dir> <port> [password] | stop <dir>" >&2
    exit 2
}

# True when something accepts TCP connections on 127.0.0.1:<port>.
port_open() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

start_server() {
    local dir=$1 port=$2 password=${3:-pinewheat}
    [[ $port =~ ^[0-9]+$ ]] || { echo "port must be a number: $port" >&2; exit 2; }
    [ -x "$FB_SERVER" ] || { echo "$FB_SERVER not found (package firebird3.0-server)" >&2; exit 1; }
    if port_open "$port"; then
        echo "port $port is already in use" >&2
        exit 1
    fi
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    local root=$dir/root
    rm -rf "$root" "$dir/lock" "$dir/security3.fdb"
    mkdir -p "$root/intl" "$dir/lock"

    cat >"$root/firebird.conf" <<EOF
RemoteServicePort = $port
RemoteBindAddress = 127.0.0.1
SecurityDatabase = $dir/security3.fdb
ServerMode = Super
EOF
    : >"$root/databases.conf"
    # The engine refuses a symlinked character set library ("CHARACTER SET WIN1251 is not
    # installed"), so it is copied; its configuration may be a link.
    cp "$FB_LIBDIR/intl/libfbintl.so" "$root/intl/"
    ln -s "$FB_INTL_CONF" "$root/intl/fbintl.conf"
    # Messages and plugins are looked up under the root as well.
    ln -s "$FB_LIBDIR/plugins" "$root/plugins"
    ln -s "$FB_LIBDIR/firebird.msg" "$root/firebird.msg"
    [ -e "$FB_LIBDIR/plugins.conf" ] && ln -s "$FB_LIBDIR/plugins.conf" "$root/plugins.conf"

    # The security database is made in embedded mode, then SYSDBA gets its Srp password.
    FIREBIRD_LOCK=$dir/lock isql-fb -q >/dev/null <<EOF
create database '$dir/security3.fdb' user 'SYSDBA';
EOF
    FIREBIRD=$root FIREBIRD_LOCK=$dir/lock isql-fb -q -user SYSDBA "$dir/security3.fdb" >/dev/null <<EOF
create or alter user SYSDBA password '$password' using plugin Srp;
commit;
EOF

    # The server stays in the foreground, so $! is its PID.
    FIREBIRD=$root FIREBIRD_LOCK=$dir/lock setsid "$FB_SERVER" >"$dir/server.log" 2>&1 </dev/null &
    local pid=$!
    echo "$pid" >"$dir/server.pid"
    for _ in $(seq 1 100); do
        if port_open "$port"; then
            return 0
        fi
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "the Firebird server ended at start-up:" >&2
            cat "$dir/server.log" >&2
            rm -f "$dir/server.pid"
            exit 1
        fi
        sleep 0.1
    done
    echo "the Firebird server does not accept connections on port $port after 10 s" >&2
    stop_server "$dir"
    exit 1
}

stop_server() {
    local dir=$1 pid
    [ -f "$dir/server.pid" ] || return 0
    pid=$(cat "$dir/server.pid")
    rm -f "$dir/server.pid"
    [[ $pid =~ ^[0-9]+$ ]] || return 0
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 1 100); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
}

case "${1:-}" in
start) [ $# -ge 3 ] || usage; start_server "$2" "$3" "${4:-}" ;;
stop) [ $# -eq 2 ] || usage; stop_server "$2" ;;
*) usage ;;
esac
