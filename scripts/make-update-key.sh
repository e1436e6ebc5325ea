#!/usr/bin/env bash
# Makes the key pair that Snapwren's updates are signed with and prints the public half in the
# form the build takes (the CMake cache variable SNAPWREN_UPDATE_KEY).
#
#   bash scripts/make-update-key.sh KEY.pem            writes a new private key (never overwrites)
#   bash scripts/make-update-key.sh --public KEY.pem   prints the public half of an existing key
#
# Whoever holds KEY.pem can make every Snapwren built with its public half run their program:
# keep it off the build machine and out of every repository, with a backup kept as safely.
set -euo pipefail

usage() { sed -n '5,6p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2; exit 64; }
fail() { echo "make-update-key.sh: $*" >&2; exit 1; }

# X then Y, 32 bytes each, big-endian: the last 64 bytes of the uncompressed point that ends the
# key's SubjectPublicKeyInfo.
public_half() {
  openssl pkey -in "$1" -noout -text 2>/dev/null | grep -q 'NIST CURVE: P-256' ||
    fail "$1 is not an ECDSA P-256 private key"
  openssl pkey -in "$1" -pubout -outform DER | tail -c 64 | od -An -v -tx1 | tr -d ' \n'
  echo
}

case "${1:-}" in
  --public) [ $# -eq 2 ] || usage; public_half "$2" ;;
  ""|-*) usage ;;
  *)
    [ $# -eq 1 ] || usage
    [ ! -e "$1" ] || fail "$1 exists; a new key is written to a new file only"
    (umask 077 && openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1")
    echo "make-update-key.sh: private key in $1; the build takes the line below" >&2
    public_half "$1"
    ;;
esac
