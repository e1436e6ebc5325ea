#!/usr/bin/env bash
# Makes an upload key for NAME (a person or a machine), prints it once, and keeps only its SHA-256
# in the keys file that upload.php reads (see keys-lib.sh for where). Once that file exists,
# upload.php takes uploads only with one of its keys:
#
#   make-key.sh NAME
#
# The key is 256 random bits, so that its hash may be readable by the web server's user without
# giving the key away.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/keys-lib.sh"
need_name "$@"
if has_key "$1"; then
  echo "make-key: $1 has a key already; revoke it first (revoke-key.sh $1)" >&2
  exit 1
fi

key="$(od -An -tx1 -N32 /dev/urandom | tr -d ' \n')"
[ ${#key} -eq 64 ] || { echo "make-key: no random bytes" >&2; exit 1; }
umask 022
[ -e "$keys" ] || printf '# Snapwren upload keys: the SHA-256 of each key, then its name\n' >"$keys"
printf '%s %s\n' "$(printf '%s' "$key" | sha256sum | cut -d' ' -f1)" "$1" >>"$keys"
echo "make-key: the key of $1, shown now and never again; it goes into Snapwren's settings" \
  "as \"Upload-Schlüssel\":" >&2
echo "$key"
