# Shell helpers shared by the load scripts under bench/ (sourced, not run).
# The caller sets: root, build, work (a temporary directory it removes on exit).

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])' 2>/dev/null ||
    echo $((20000 + RANDOM % 20000))
}

wait_for() {  # URL: waits up to 10 s for any answer
  for _ in $(seq 100); do
    if curl -s -o /dev/null "$1"; then return 0; fi
    sleep 0.1
  done
  echo "nothing answers at $1" >&2
  return 1
}

build_if_needed() {
  if [[ ! -x "$build/ombrix" || ! -x "$build/ombrix-admin" ]]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DOMBRIX_TESTS=OFF >/dev/null
    cmake --build "$build" -j2 --target ombrix ombrix-admin >/dev/null
  fi
}

admin() { "$build/ombrix-admin" --data "$work/data" "$@" >/dev/null; }

# start_ombrix: starts the server on a free port over $work/data; sets ombrix_pid, base, auth.
start_ombrix() {
  local port
  port=$(free_port)
  OMBRIX_DATA="$work/data" "$build/ombrix" -p "$port" 2>>"$work/ombrix.err" &
  ombrix_pid=$!
  base="http://127.0.0.1:$port/quelm/restfs"
  wait_for "$base/logout"
  local token
  token=$(curl -s -X POST --data-binary '{"Client":"bench"}' "$base/login" |
    sed -n 's/.*"access_token":"\([^"]*\)".*/\1/p')
  [[ -n $token ]] || { echo "login failed" >&2; return 1; }
  auth="Authorization: Bearer $token"
}

stop_nginx() {
  if [[ -n ${nginx_pid:-} ]]; then kill -QUIT "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  nginx_pid=
}

stop_ombrix() {
  if [[ -n ${ombrix_pid:-} ]]; then kill "$ombrix_pid" 2>/dev/null || true; wait "$ombrix_pid" 2>/dev/null || true; fi
  ombrix_pid=
}

# proc_kib PID FIELD: VmRSS or VmHWM in KiB.
proc_kib() { awk -v f="$2:" '$1 == f {print $2}' "/proc/$1/status"; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# ab_rate CONCURRENCY COUNT ARGS...: requests/s (0 when ab fails).
ab_rate() {
  local c=$1 n=$2; shift 2
  if timeout 300 ab -q -s 30 -n "$n" -c "$c" "$@" >"$work/ab.out" 2>&1; then
    awk '/^Requests per second:/ {print $4}' "$work/ab.out"
  else
    echo 0
  fi
}

# write_nginx_conf PORT ROOT [LISTEN_OPTIONS]: the reference server's configuration in
# $work/nginx/nginx.conf: static files from ROOT, no access log, keepalive_timeout 0 (one request
# per connection, as ombrix serves them).
write_nginx_conf() {
  local port=$1 www=$2 listen_options=${3:-}
  mkdir -p "$work/nginx/logs"
  cat >"$work/nginx/nginx.conf" <<CONF
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  keepalive_timeout 0;
  default_type application/json;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$port$listen_options;
    root $www;
  }
}
CONF
}
