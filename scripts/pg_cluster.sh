#!/usr/bin/env bash
# A throw-away PostgreSQL cluster for the tests and benchmarks, reached only over its unix socket.
#   scripts/pg_cluster.sh start DIR   creates DIR, initialises and starts a cluster in it and
#                                     prints its URI (database postgres), e.g.
#                                     postgresql:///postgres?host=DIR&port=5432
#   scripts/pg_cluster.sh stop DIR    stops that cluster (fast shutdown) and removes DIR
#   scripts/pg_cluster.sh pause|resume DIR         stops it keeping its data; starts it again
#   scripts/pg_cluster.sh restart-immediate DIR    crashes it (-m immediate) and starts it again
# initdb refuses to run as root: as root the cluster runs as user nobody, with a superuser role
# named after the calling user, so that a connection without a user name is accepted (trust).
set -euo pipefail

command=${1:-}
dir=${2:-}
if [ -z "$command" ] || [ -z "$dir" ]; then
  echo "usage: $0 start|stop|pause|resume|restart-immediate DIR" >&2
  exit 2
fi
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
  echo "$0: PostgreSQL is not installed (scripts/ensure_packages.sh postgresql libpq-dev)" >&2
  exit 1
fi
port=5432
as_owner=()
if [ "$(id -u)" -eq 0 ]; then as_owner=(runuser -u nobody --); fi

case "$command" in
  start)
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    if [ "$(id -u)" -eq 0 ]; then chown nobody "$dir"; fi
    chmod 0755 "$dir"
    "${as_owner[@]}" "$bin/initdb" -D "$dir/data" -U "$(id -un)" -A trust -E UTF8 \
      --locale=C.UTF-8 --no-sync >"$dir/initdb.log" 2>&1 ||
      { cat "$dir/initdb.log" >&2; exit 1; }
    # Only the socket in DIR: no TCP port is taken, so clusters of parallel runs never meet.
    # Commits are flushed (fsync and synchronous_commit stay on), as a real server's are.
    cat >>"$dir/data/postgresql.conf" <<CONF
listen_addresses = ''
unix_socket_directories = '$dir'
port = $port
max_connections = 300
fsync = on
synchronous_commit = on
CONF
    "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -s start >&2 ||
      { cat "$dir/server.log" >&2; exit 1; }
    echo "postgresql:///postgres?host=$dir&port=$port"
    ;;
  stop)
    if [ -f "$dir/data/postmaster.pid" ]; then
      "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w -s stop || true
    fi
    rm -rf "$dir"
    ;;
  restart-immediate)
    # Crash the cluster (no shutdown checkpoint) and start it again, as a power cut would.
    "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -m immediate -w -s stop
    "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -s start >&2
    ;;
  pause)
    # Stops the server (fast shutdown) and keeps its data: "resume" starts it again.
    "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w -s stop
    ;;
  resume)
    "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -s start >&2
    ;;
  *)
    echo "usage: $0 start|stop|pause|resume|restart-immediate DIR" >&2
    exit 2
    ;;
esac
