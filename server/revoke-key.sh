#!/usr/bin/env bash
# Revokes NAME's upload key: removes its line from the keys file that upload.php reads (see
# keys-lib.sh for where), so that the next upload with it gets 401. The file stays even when it
# holds no key any more: the server keeps asking for keys rather than opening up to anyone.
#
#   revoke-key.sh NAME
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/keys-lib.sh"
need_name "$@"
if ! has_key "$1"; then
  echo "revoke-key: $1 has no key in $keys" >&2
  exit 1
fi

# A new file in the same folder, renamed over the old one: upload.php reads either, whole.
new="$(mktemp "$keys.XXXXXX")"
trap 'rm -f "$new"' EXIT
key_lines "$1" -v >"$new"
chmod --reference="$keys" "$new"
chown --reference="$keys" "$new" 2>/dev/null || true
mv "$new" "$keys"
echo "revoke-key: revoked the key of $1"
