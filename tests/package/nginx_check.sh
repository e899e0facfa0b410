#!/usr/bin/env bash
# The shipped nginx site passes `nginx -t` with the machine's nginx: its
# certificate paths point at a self-signed certificate made here, and it is
# included by a throwaway main configuration. Usage: nginx_check.sh SOURCE_DIR
# Exit 77 (skipped) without nginx or openssl.
set -euo pipefail
source_dir=$1
command -v nginx >/dev/null || { echo "no nginx; skipped"; exit 77; }
command -v openssl >/dev/null || { echo "no openssl; skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=oa.example.com \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
sed -e "s|/etc/letsencrypt/live/oa.example.com/fullchain.pem|$work/cert.pem|" \
    -e "s|/etc/letsencrypt/live/oa.example.com/privkey.pem|$work/key.pem|" \
    "$source_dir/deploy/nginx-oapx1.conf" >"$work/site.conf"
grep -q "$work/key.pem" "$work/site.conf" || { echo "the site names no certificate key to replace" >&2; exit 1; }
mkdir -p "$work/logs"
cat >"$work/nginx.conf" <<CONF
pid $work/nginx.pid;
error_log $work/logs/error.log;
events {}
http {
    access_log off;
    client_body_temp_path $work/body;
    proxy_temp_path $work/proxy;
    fastcgi_temp_path $work/fastcgi;
    uwsgi_temp_path $work/uwsgi;
    scgi_temp_path $work/scgi;
    include $work/site.conf;
}
CONF
nginx -t -p "$work" -c "$work/nginx.conf" -g "user $(id -un);"
# What the page host relies on: the client's address set by this proxy.
for header in "X-Forwarded-For \$remote_addr" "X-Forwarded-Proto https"; do
  grep -q "proxy_set_header $header;" "$work/site.conf" || { echo "the site does not set $header" >&2; exit 1; }
done
