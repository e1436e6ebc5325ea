# What make-key.sh and revoke-key.sh share: where the keys file is and how its lines are read.
# A line is the SHA-256 of a key in hex (64 digits), blanks, and the name it was made for; lines
# starting with "#" are comments.

# The keys file: SNAPWREN_KEYS_FILE, by default beside the web root of deploy/, where upload.php
# looks (its KEYS_FILE).
keys="${SNAPWREN_KEYS_FILE:-/var/www/snapwren-keys}"

# Exits with the script's usage (its line 6) unless there is one argument, a name of letters,
# digits and . _ @ + - of at most 64 characters.
need_name() {
  if [ $# -ne 1 ] || [[ ! "$1" =~ ^[A-Za-z0-9][A-Za-z0-9._@+-]{0,63}$ ]]; then
    sed -n '6p' "$0" | sed 's/^# *//' >&2
    echo "NAME: letters, digits and . _ @ + -, at most 64 characters" >&2
    exit 64
  fi
}

# The lines of the keys file that hold a key of NAME; with -v, all other lines.
key_lines() {
  awk -v name="$1" -v keep="${2:-}" '{ own = length($1) == 64 && $1 !~ /[^0-9a-f]/ && $2 == name &&
                                       NF == 2 }
                                     (keep == "-v") != own' "$keys"
}

has_key() { [ -f "$keys" ] && [ -n "$(key_lines "$1")" ]; }
