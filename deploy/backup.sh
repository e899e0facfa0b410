#!/bin/sh
# A backup of the SQLite database while the server runs, for the systemd timer
# oapx1-backup.timer (or cron), as the service user:
#   runuser -u oapx1 -- /usr/lib/oapx1/backup.sh /var/backups/oapx1
# Keeps the last $KEEP copies (14). The database is the one of $OAPX1_CONFIG
# (/etc/oapx1/serve.conf). For PostgreSQL, use pg_dump instead. Run as root,
# it runs itself again as the service user ($OAPX1_USER, oapx1), so that
# every file among the backups stays the service's.
set -eu
if [ "$(id -u)" -eq 0 ]; then
  user="${OAPX1_USER:-oapx1}"
  getent passwd "$user" >/dev/null || { echo "backup.sh: no user $user to run as" >&2; exit 1; }
  exec runuser -u "$user" -- "$0" "$@"
fi
dest="${1:?usage: backup.sh FOLDER}"
keep="${KEEP:-14}"
config="${OAPX1_CONFIG:-/etc/oapx1/serve.conf}"
umask 077
mkdir -p "$dest"
# Two backups within one second (the timer and an operator) get names of their own.
stamp=$(date +%Y%m%d-%H%M%S)
file="$dest/oa-$stamp.db"
n=1
while [ -e "$file" ] || [ -e "$file.gz" ]; do
  n=$((n + 1))
  file="$dest/oa-$stamp-$n.db"
done
oapx1 db backup "$file" --config "$config"
gzip "$file"
ls -1t "$dest"/oa-*.db.gz | tail -n +"$((keep + 1))" | xargs -r rm --
