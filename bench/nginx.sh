# Sourced by the benchmark scripts: nginx serving one folder on a free loopback port, with its
# own configuration, log and temporary folders under DIR, so that nothing of the machine's
# own nginx is touched.
#   nginx_start DIR ROOT WORKERS TYPES   starts it; sets nginx_port; TYPES: "mime ext; ..."
#   nginx_ready URL                      waits up to 5 s until URL answers; false if it never does
#   nginx_stop DIR
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

nginx_start() {
    nginx_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    mkdir -p "$1"
    user_line=""
    [ "$(id -u)" -eq 0 ] && user_line="user root;"
    cat > "$1/nginx.conf" <<CONF
$user_line
worker_processes $3;
pid $1/nginx.pid;
error_log $1/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    keepalive_requests 1000000;
    client_body_temp_path $1/body;
    proxy_temp_path $1/proxy;
    fastcgi_temp_path $1/fastcgi;
    uwsgi_temp_path $1/uwsgi;
    scgi_temp_path $1/scgi;
    types { $4 }
    server {
        listen 127.0.0.1:$nginx_port;
        root $2;
    }
}
CONF
    "$nginx_bin" -p "$1" -c "$1/nginx.conf" 2>"$1/start.log"
}

nginx_ready() {
    tries=0
    until curl -s -o /dev/null -r 0-0 "$1"; do
        tries=$((tries + 1))
        [ $tries -gt 50 ] && return 1
        sleep 0.1
    done
    return 0
}

nginx_stop() {
    [ -f "$1/nginx.pid" ] && kill "$(cat "$1/nginx.pid")" 2>/dev/null
}
