#!/usr/bin/env bash
# Prints the version.json that offers INSTALLER as Snapwren VERSION at URL, signed with the
# private key KEY (scripts/make-update-key.sh), so that Snapwren built with its public half
# accepts it.
#
#   bash scripts/sign-update.sh INSTALLER VERSION URL KEY [CHANGELOG | @FILE]
#
# The change notes come from the argument, or from FILE (UTF-8) when it starts with @. The
# signature covers the statement "snapwren-update 1\n<version>\n<sha256 of INSTALLER>\n"; the
# URL and the change notes are not signed.
set -euo pipefail

usage() { sed -n '6p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2; exit 64; }
fail() { echo "sign-update.sh: $*" >&2; exit 1; }

[ $# -eq 4 ] || [ $# -eq 5 ] || usage
installer="$1" version="$2" url="$3" key="$4" changelog="${5:-}"
if [ "${changelog:0:1}" = @ ]; then
  changelog="$(cat -- "${changelog:1}")" || fail "cannot read ${changelog:1}"
fi
[ -f "$installer" ] || fail "no such file: $installer"
[ -n "$version" ] || fail "the version is empty"

# A JSON string. Other control characters have no place in these texts.
json_string() {
  local text="$1"
  [[ "$text" != *[$'\001'-$'\010'$'\013'$'\014'$'\016'-$'\037']* ]] ||
    fail "a control character in: $text"
  text="${text//\\/\\\\}" && text="${text//\"/\\\"}" && text="${text//$'\t'/\\t}"
  text="${text//$'\r'/\\r}" && text="${text//$'\n'/\\n}"
  printf '"%s"' "$text"
}

sha256="$(sha256sum -- "$installer" | cut -d' ' -f1)"
# openssl writes ECDSA signatures in DER; Snapwren takes r and s, each as 32 big-endian bytes.
integers="$(printf 'snapwren-update 1\n%s\n%s\n' "$version" "$sha256" |
  openssl dgst -sha256 -sign "$key" | openssl asn1parse -inform DER |
  sed -n 's/.*prim: INTEGER *://p')" || fail "openssl cannot sign with $key"
[ "$(wc -l <<<"$integers")" -eq 2 ] || fail "openssl gave no ECDSA signature: is $key a P-256 key?"
raw=""
for integer in $integers; do
  padded="$(printf '%64s' "$integer" | tr ' ' 0)"
  raw+="${padded: -64}"
done
signature="$(printf '%b' "$(sed 's/../\\x&/g' <<<"$raw")" | base64 -w0)"

texts=()
for text in "$version" "$url" "$changelog"; do
  quoted="$(json_string "$text")" || exit 1
  texts+=("$quoted")
done
printf '{\n  "version": %s,\n  "url": %s,\n  "changelog": %s,\n' "${texts[@]}"
printf '  "sha256": "%s",\n  "signature": "%s"\n}\n' "$sha256" "$signature"
