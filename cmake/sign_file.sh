#!/bin/sh
# Authenticode-signs one program or package in place with SHA-256:
#   sign_file.sh FILE PKCS12 DESCRIPTION [TIMESTAMP_URL]
# The password comes from TAVU_SIGN_PASSWORD and reaches osslsigncode on its
# standard input, never on a command line that other users could read.
# With a time-stamp URL the signature gets an RFC 3161 time stamp and a server
# that does not answer fails the signing: a release must not go out unstamped
# by accident. Without one, the signature holds only as long as the certificate.
set -u
file=$1 pkcs12=$2 description=$3 url=${4:-}
tmp="$file.signing"

fail() {
  echo "sign: $*" >&2
  rm -f "$tmp"
  # A build that left the unsigned file in place would take it for finished
  # next time; without it, the next build links and signs again.
  rm -f "$file"
  exit 1
}

[ -f "$pkcs12" ] || fail "no PKCS#12 file at $pkcs12"
# "-readpass -" means standard input only to newer osslsigncode; Debian 12's
# 2.5 looks for a file named "-". /dev/stdin is the pipe to both.
set -- -pkcs12 "$pkcs12" -readpass /dev/stdin -h sha256 -n "$description"
if [ -n "$url" ]; then set -- "$@" -ts "$url"; fi
rm -f "$tmp"
if ! printf '%s' "${TAVU_SIGN_PASSWORD:-}" | osslsigncode sign "$@" -in "$file" -out "$tmp" >"$tmp.log" 2>&1; then
  cat "$tmp.log" >&2
  rm -f "$tmp.log"
  fail "osslsigncode could not sign $file"
fi
rm -f "$tmp.log"
# osslsigncode writes a new file with default permissions; keep the program's.
chmod --reference="$file" "$tmp" && mv -f "$tmp" "$file" || fail "could not replace $file"
if [ -n "$url" ]; then
  echo "sign: signed $(basename "$file") (SHA-256, time stamp from $url)"
else
  echo "sign: signed $(basename "$file") (SHA-256, no time stamp)"
fi
