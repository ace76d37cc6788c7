#!/bin/sh
# Starts or stops the benchmark's own nginx: loopback only, its own config, port and temp folder.
#   nginx.sh start DIR PORT DOCROOT [CERT KEY]   (prints nothing; DIR/nginx.pid holds the master's
#                                                 PID; with CERT and KEY it speaks TLS 1.2+ only)
#   nginx.sh stop DIR
# Locations: /files/ as is; /capped/ with a per-connection cap of 25 MiB/s; /single/ and
# /capped-single/ the same without byte-range support (no Accept-Ranges), which makes the
# downloader take one stream.
set -eu
action=$1
dir=$2
case "$action" in
start)
    port=$3
    docroot=$4
    listen="127.0.0.1:$port" tls=""
    if [ $# -ge 6 ]; then
        listen="$listen ssl"
        tls="ssl_certificate $5; ssl_certificate_key $6; ssl_protocols TLSv1.2 TLSv1.3;"
    fi
    mkdir -p "$dir/temp"
    cat >"$dir/nginx.conf" <<CONF
worker_processes 2;
pid $dir/nginx.pid;
error_log $dir/error.log warn;
events { worker_connections 256; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    keepalive_timeout 30;
    client_body_temp_path $dir/temp/body;
    proxy_temp_path $dir/temp/proxy;
    fastcgi_temp_path $dir/temp/fastcgi;
    uwsgi_temp_path $dir/temp/uwsgi;
    scgi_temp_path $dir/temp/scgi;
    default_type application/octet-stream;
    server {
        listen $listen;
        $tls
        location /files/ { alias $docroot/; }
        location /capped/ { alias $docroot/; limit_rate 25m; }
        location /single/ { alias $docroot/; max_ranges 0; }
        location /capped-single/ { alias $docroot/; limit_rate 25m; max_ranges 0; }
    }
}
CONF
    nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log"
    # Wait until it accepts connections.
    i=0
    until python3 -c 'import socket, sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1)' "$port" 2>/dev/null; do
        i=$((i + 1))
        [ $i -lt 100 ] || { echo "nginx did not start" >&2; exit 1; }
        sleep 0.05
    done
    ;;
stop)
    if [ -f "$dir/nginx.pid" ]; then
        pid=$(cat "$dir/nginx.pid")
        kill "$pid" 2>/dev/null || true
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do i=$((i + 1)); sleep 0.05; done
    fi
    ;;
*)
    echo "usage: $0 start DIR PORT DOCROOT | stop DIR" >&2
    exit 2
    ;;
esac
