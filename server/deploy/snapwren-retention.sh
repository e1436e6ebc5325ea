#!/usr/bin/env bash
# Deletes the screenshots that upload.php stored more than DAYS days ago, so that the store keeps
# only what its links are still needed for. Run daily by snapwren-retention.timer (or cron):
#
#   snapwren-retention.sh STORE_DIR DAYS
#
# Only the names upload.php gives (32 hex digits and .png, and .secret for the hash of the image's
# delete secret, stored with it) are touched; index.html and anything else put there by hand stay.
set -euo pipefail

if [ $# -ne 2 ] || [[ ! "$2" =~ ^[1-9][0-9]{0,4}$ ]]; then
  sed -n '5p' "${BASH_SOURCE[0]}" | sed 's/^# *//' >&2
  exit 64
fi
[ -d "$1" ] || { echo "snapwren-retention: no such folder: $1" >&2; exit 1; }

# Minutes rather than -mtime, whose whole days round a file's age down.
deleted="$(find "$1" -maxdepth 1 -type f -regextype posix-extended \
  -regex '.*/[0-9a-f]{32}\.(png|secret)' -mmin +"$(($2 * 24 * 60))" -print -delete |
  awk '/\.png$/ { n++ } END { print n + 0 }')"
echo "snapwren-retention: deleted $deleted image(s) older than $2 days from $1"
