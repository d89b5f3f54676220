#!/usr/bin/env bash
# Makes a throwaway CA and a server certificate for 127.0.0.1 and localhost in DIR, unless present:
#   make-pki.sh DIR
# Writes ca.pem, ca.key, server.pem and server.key. Never commit them.
set -euo pipefail
dir=$1
[ -f "$dir/server.pem" ] && exit 0
mkdir -p "$dir"
cd "$dir"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key -out ca.pem \
    -days 365 -subj "/CN=Vigilor throwaway CA" 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key -out server.csr \
    -subj "/CN=127.0.0.1" 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' > server.ext
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 365 -extfile server.ext \
    -out server.pem 2>/dev/null
chmod 600 ca.key server.key
