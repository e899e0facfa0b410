#!/usr/bin/env bash
# Nightly backup of the SQLite database while the server runs, for cron or a
# systemd timer, as the service user:
#   sudo -u oapx1 /usr/local/share/oapx1/backup.sh /var/backups/oapx1
# Keeps the last 14 copies. For PostgreSQL, use pg_dump instead.
set -euo pipefail
dest="${1:?usage: backup.sh FOLDER}"
keep="${KEEP:-14}"
mkdir -p "$dest"
file="$dest/oa-$(date +%Y%m%d-%H%M%S).db"
/usr/local/bin/oapx1 db backup "$file" --config /etc/oapx1/serve.conf
gzip "$file"
ls -1t "$dest"/oa-*.db.gz | tail -n +"$((keep + 1))" | xargs -r rm --
