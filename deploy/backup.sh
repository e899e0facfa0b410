#!/bin/sh
# A backup of the SQLite database while the server runs, for the systemd timer
# oapx1-backup.timer (or cron), as the service user:
#   runuser -u oapx1 -- /usr/lib/oapx1/backup.sh /var/backups/oapx1
# Keeps the last $KEEP copies (14). The database is the one of $OAPX1_CONFIG
# (/etc/oapx1/serve.conf). For PostgreSQL, use pg_dump instead.
set -eu
dest="${1:?usage: backup.sh FOLDER}"
keep="${KEEP:-14}"
config="${OAPX1_CONFIG:-/etc/oapx1/serve.conf}"
umask 077
mkdir -p "$dest"
file="$dest/oa-$(date +%Y%m%d-%H%M%S).db"
oapx1 db backup "$file" --config "$config"
gzip "$file"
ls -1t "$dest"/oa-*.db.gz | tail -n +"$((keep + 1))" | xargs -r rm --
