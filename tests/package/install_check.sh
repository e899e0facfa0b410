#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine as an operator would
# (apt-get install ./oapx1_*.deb), creates the database as the service user
# with the shipped configuration, serves it with the installed program, web
# files and settings, signs in, makes a backup with the shipped script, runs
# the upgrade step, verifies the systemd units, and removes the package and
# what it made again. Usage: install_check.sh BUILD_DIR SOURCE_DIR
# Exit 77 (skipped) when not root, without apt-get, or when oapx1 is installed
# already (an installation of the machine's own is never touched).
set -euo pipefail
build=$(realpath "$1") source_dir=$(realpath "$2")
[ "$(id -u)" -eq 0 ] || { echo "not root; skipped"; exit 77; }
command -v apt-get >/dev/null && command -v dpkg-shlibdeps >/dev/null && command -v curl >/dev/null ||
  { echo "no apt-get, dpkg-shlibdeps or curl; skipped"; exit 77; }
exec 9>/run/lock/oapx1-package-test
flock 9
if dpkg-query -W -f='${Status}' oapx1 2>/dev/null | grep -q "ok installed"; then
  echo "oapx1 is installed on this machine; skipped"
  exit 77
fi

fail() { echo "package: $*" >&2; exit 1; }
work=$(mktemp -d)
server=
had_user=$(getent passwd oapx1 >/dev/null && echo yes || true)
had_state=$([ -e /var/lib/oapx1 ] && echo yes || true)
had_backups=$([ -e /var/backups/oapx1 ] && echo yes || true)
cleanup() {
  [ -z "$server" ] || kill "$server" 2>/dev/null || true
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq oapx1 >/dev/null 2>&1 || true
  [ -n "$had_user" ] || userdel oapx1 2>/dev/null || true
  [ -n "$had_state" ] || rm -rf /var/lib/oapx1
  [ -n "$had_backups" ] || rm -rf /var/backups/oapx1
  rm -rf "$work"
}
trap cleanup EXIT

deb=$("$source_dir/scripts/package" "$build" | tail -n 1)
[[ "$(basename "$deb")" =~ ^oapx1_[0-9]+\.[0-9]+\.[0-9]+_[a-z0-9]+\.deb$ ]] || fail "package file name $deb"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q "libsqlite3-0" <<<"$depends" || fail "no libsqlite3-0 among the dependencies: $depends"
! grep -q -- "-dev" <<<"$depends" || fail "depends on a -dev package: $depends"
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/oapx1 ./usr/share/oapx1/www/ ./etc/oapx1/serve.conf ./usr/lib/oapx1/backup.sh \
         ./usr/lib/systemd/system/oapx1.service ./usr/lib/systemd/system/oapx1-backup.timer \
         ./usr/share/doc/oapx1/serve.md ./etc/logrotate.d/oapx1; do
  grep -q " $f\$\| $f " <<<"$contents" || grep -q " ${f%/}\$" <<<"$contents" || fail "$f is not in the package"
done
! grep -q "include/\|liboapx1_page" <<<"$contents" || fail "the library for other projects is in the package"

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; fail "apt-get install failed"; }

# What the install made: the service user, its folders, a configuration it
# can read and others cannot.
getent passwd oapx1 >/dev/null || fail "no service user"
[ "$(stat -c '%U %a' /var/lib/oapx1)" = "oapx1 700" ] || fail "/var/lib/oapx1 is $(stat -c '%U %a' /var/lib/oapx1)"
[ "$(stat -c '%U:%G %a' /etc/oapx1/serve.conf)" = "root:oapx1 640" ] ||
  fail "/etc/oapx1/serve.conf is $(stat -c '%U:%G %a' /etc/oapx1/serve.conf)"

# The first steps of the README: a database with its first administrator,
# no demo data; from a folder the service user may enter.
cd /
printf 'Admin-Secret-1\n' |
  runuser -u oapx1 -- /usr/bin/oapx1 db init --config /etc/oapx1/serve.conf --admin admin --password-stdin \
  >/dev/null 2>&1 || fail "db init --admin as the service user"
[ "$(stat -c %U /var/lib/oapx1/oa.db)" = oapx1 ] || fail "the database is not the service user's"
runuser -u oapx1 -- /usr/bin/oapx1 db check --config /etc/oapx1/serve.conf >/dev/null || fail "db check"

# The shipped settings as they are, on a free port.
runuser -u oapx1 -- /usr/bin/oapx1 serve --config /etc/oapx1/serve.conf --listen 127.0.0.1:0 \
  --threads 1 >"$work/serve.out" 2>"$work/serve.err" &
server=$!
for _ in $(seq 100); do grep -q "^oapx1 serve: listening on" "$work/serve.out" && break; sleep 0.1; done
base=$(sed -n 's|^oapx1 serve: listening on \(http://[^/]*\)/$|\1|p' "$work/serve.out")
[ -n "$base" ] || { cat "$work/serve.out" "$work/serve.err" >&2; fail "serve did not start"; }
grep -q "^  docroot:  /usr/share/oapx1/www$" "$work/serve.out" || fail "serve does not use the installed web files"
# The first try: the banner names where sign-ins go, and a page asked for
# without a session sends the browser to the login page on the address it
# used, not to a host of the example configuration.
grep -q "^  sign-in:  /oa/login.asp " "$work/serve.out" || { cat "$work/serve.out" >&2; fail "no sign-in address at start"; }
curl -s -o "$work/first.html" -D "$work/first.h" "$base/oa/flow/model/jiedian.asp?OAID=1"
grep -q 'top.location.href = "/oa/login.asp"' "$work/first.html" && ! grep -q "example.com" "$work/first.h" ||
  { cat "$work/first.h" "$work/first.html" >&2; fail "the first try is not sent to /oa/login.asp"; }
# A sign-in answers 303 to the page with a session cookie; the page then opens.
curl -s -o /dev/null -D "$work/login.h" -d "username=admin&password=Admin-Secret-1" "$base/oa/login.asp"
grep -q "^HTTP/1.1 303" "$work/login.h" || { cat "$work/login.h" >&2; fail "sign-in not accepted"; }
cookie=$(sed -n 's/^Set-Cookie: \(OAPX1SESSION=[^;]*\).*/\1/p' "$work/login.h")
[ -n "$cookie" ] || fail "no session cookie"
grep -q "^Location: /oa/flow/model/models.asp" "$work/login.h" || fail "the first sign-in does not land on the list of models"
status=$(curl -s -o "$work/page.html" -w '%{http_code}' -H "Cookie: $cookie" "$base/oa/flow/model/models.asp")
[ "$status" = 200 ] || fail "the list of models after sign-in answers $status"
# An empty database: the list says what to do first (in GBK).
iconv -f GB18030 -t UTF-8 "$work/page.html" | grep -q "还没有流程模型" || fail "the list of models does not say what to do first"
kill "$server"
wait "$server" || true
server=
grep -q " admin \[.*\] \"POST /oa/login.asp HTTP/1.1\" 303 " /var/log/oapx1/access.log ||
  fail "the access log does not name the account signed in"

# The nightly backup, as the timer runs it.
runuser -u oapx1 -- /usr/lib/oapx1/backup.sh /var/backups/oapx1 2>/dev/null || fail "backup.sh failed"
ls /var/backups/oapx1/oa-*.db.gz >/dev/null 2>&1 || fail "backup.sh made no copy"
# Run by root, the script still leaves only the service's files there.
/usr/lib/oapx1/backup.sh /var/backups/oapx1 2>/dev/null || fail "backup.sh as root failed"
[ -z "$(find /var/backups/oapx1 ! -user oapx1)" ] || fail "root-owned files among the backups: $(find /var/backups/oapx1 ! -user oapx1)"

# An upgrade from an earlier release: a copy first, then db upgrade (when
# this release has it); the database still serves afterwards.
/var/lib/dpkg/info/oapx1.postinst configure 0.9.0 >/dev/null || fail "postinst of an upgrade failed"
if /usr/bin/oapx1 db upgrade --help 2>/dev/null | grep -q "db upgrade"; then
  ls /var/backups/oapx1/oa-before-upgrade-from-0.9.0-*.db >/dev/null 2>&1 || fail "no copy before the upgrade"
fi
runuser -u oapx1 -- /usr/bin/oapx1 db check --config /etc/oapx1/serve.conf >/dev/null || fail "db check after the upgrade"

if command -v systemd-analyze >/dev/null; then
  units=/usr/lib/systemd/system
  out=$(systemd-analyze verify "$units/oapx1.service" "$units/oapx1-backup.service" "$units/oapx1-backup.timer" 2>&1) ||
    { echo "$out" >&2; fail "systemd-analyze verify"; }
  ! grep -q "oapx1" <<<"$out" || { echo "$out" >&2; fail "systemd-analyze complains about a unit"; }
fi

DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq oapx1 >/dev/null 2>&1 || fail "apt-get purge failed"
[ ! -e /usr/bin/oapx1 ] && [ ! -e /etc/oapx1/serve.conf ] || fail "files left after purge"
# What the README says a purge leaves: the database, the backups, the user.
[ -f /var/lib/oapx1/oa.db ] && ls /var/backups/oapx1/oa-*.db.gz >/dev/null 2>&1 && getent passwd oapx1 >/dev/null ||
  fail "purge removed the database, the backups or the service user"
echo "package installed, signed in against it, removed"
