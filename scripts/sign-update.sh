#!/usr/bin/env bash
# Prints the version.json that offers INSTALLER as Snapwren VERSION at URL, signed with the
# private key KEY (scripts/make-update-key.sh), so that Snapwren built with its public half
# accepts it.
#
#   bash scripts/sign-update.sh (--sequence N | --after OLD.json) INSTALLER VERSION URL KEY [CHANGELOG | @FILE]
#
# The change notes come from the argument, or from FILE (UTF-8) when it starts with @. The
# sequence number is N, or one more than that of OLD.json, the version.json served until now:
# Snapwren refuses a statement whose number is lower than one it has accepted. The signature
# covers the statement
#   snapwren-update 2\n<version>\n<sha256>\n<length>\n<url>\n<sequence>\n<sha256 of the notes>\n
# so the installer's bytes, where it is fetched from and the notes the user reads are all the
# publisher's.
set -euo pipefail

usage() { sed -n '6p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2; exit 64; }
fail() { echo "sign-update.sh: $*" >&2; exit 1; }

sequence=""
case "${1:-}" in
  --sequence) [ $# -ge 2 ] || usage; sequence="$2" ;;
  --after)
    [ $# -ge 2 ] || usage
    previous="$(sed -n 's/^ *"sequence": *"\([0-9]*\)",\{0,1\}$/\1/p' -- "$2")" ||
      fail "cannot read $2"
    [ -n "$previous" ] || fail "$2 holds no sequence number"
    sequence=$((10#$previous + 1))
    ;;
  *) usage ;;
esac
shift 2
[ $# -eq 4 ] || [ $# -eq 5 ] || usage
installer="$1" version="$2" url="$3" key="$4" changelog="${5:-}"
if [ "${changelog:0:1}" = @ ]; then
  changelog="$(cat -- "${changelog:1}")" || fail "cannot read ${changelog:1}"
fi
[ -f "$installer" ] || fail "no such file: $installer"
[ -n "$version" ] || fail "the version is empty"
# One field a line: a line break inside one would shift the others.
[[ "$version$url" != *$'\n'* ]] || fail "a line break in the version or the address"
[[ "$url" =~ ^https://[^/?#:]+ ]] || fail "the address must be https:// with a host: $url"
[[ "$sequence" =~ ^[1-9][0-9]{0,17}$ ]] || fail "the sequence number must be a positive integer"

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
length="$(stat -c %s -- "$installer")"
[ "$length" -gt 0 ] || fail "the installer is empty"
notes="$(printf '%s' "$changelog" | sha256sum | cut -d' ' -f1)"
# openssl writes ECDSA signatures in DER; Snapwren takes r and s, each as 32 big-endian bytes.
integers="$(printf 'snapwren-update 2\n%s\n%s\n%s\n%s\n%s\n%s\n' "$version" "$sha256" "$length" \
    "$url" "$sequence" "$notes" |
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
printf '  "sha256": "%s",\n  "length": "%s",\n  "sequence": "%s",\n  "signature": "%s"\n}\n' \
  "$sha256" "$length" "$sequence" "$signature"
