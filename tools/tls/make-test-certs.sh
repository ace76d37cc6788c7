#!/bin/sh
# Makes the certificates of one test or demo run with the openssl command line (never installed
# anywhere on the host; the test CA is trusted only inside a Wine prefix, by trust-ca.exe).
#   make-test-certs.sh DIR
# Writes into DIR (created; an earlier set there is replaced):
#   ca.pem                     the test CA (trust this one in the prefix)
#   localhost.pem/.key         from the test CA: subjectAltName DNS:localhost, IP:127.0.0.1
#   self-signed.pem/.key       localhost, signed by itself: a CA nobody trusts
#   other-host.pem/.key        from the test CA, but for the host name other-host.example
#   expired.pem/.key           from the test CA for localhost, valid only in the past
#   not-yet-valid.pem/.key     from the test CA for localhost, valid only in the future
# Every server certificate shares one RSA key (the .key files are copies of it).
set -eu
if [ $# -ne 1 ]; then
    echo "usage: $0 DIR" >&2
    exit 2
fi
dir=$1
work="$dir/.ca"
rm -rf "$work"
mkdir -p "$work"
cd "$dir"

quiet() { "$@" >/dev/null 2>"$work/openssl.err" || { cat "$work/openssl.err" >&2; exit 1; }; }

# The CA: its own key, basicConstraints CA:TRUE, able to sign certificates.
quiet openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 -keyout "$work/ca.key" \
    -out ca.pem -subj "/CN=Tavro Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
quiet openssl genrsa -out "$work/server.key" 2048

# `openssl ca` with a minimal configuration: it alone takes start and end dates, so the past
# and future certificates come from it as well.
: > "$work/index.txt"
cat > "$work/ca.cnf" <<CNF
[ca]
default_ca = test_ca
[test_ca]
dir = $work
database = \$dir/index.txt
new_certs_dir = \$dir
serial = \$dir/serial
private_key = \$dir/ca.key
certificate = $PWD/ca.pem
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
[any]
commonName = supplied
[server]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = \$ENV::TAVRO_CERT_SAN
CNF
openssl rand -hex 8 > "$work/serial"

# issue NAME CN SAN START END: a certificate of the test CA for the server key.
issue() {
    quiet openssl req -new -key "$work/server.key" -subj "/CN=$2" -out "$work/$1.csr"
    TAVRO_CERT_SAN=$3 quiet openssl ca -batch -config "$work/ca.cnf" -extensions server \
        -startdate "$4" -enddate "$5" -in "$work/$1.csr" -out "$1.pem" -notext
    cp "$work/server.key" "$1.key"
}
now=$(date -u +%s)
stamp() { date -u -d "@$1" +%Y%m%d%H%M%SZ; }
day=86400
issue localhost localhost "DNS:localhost,IP:127.0.0.1" "$(stamp $((now - day)))" "$(stamp $((now + 30 * day)))"
issue other-host other-host.example "DNS:other-host.example" "$(stamp $((now - day)))" "$(stamp $((now + 30 * day)))"
issue expired localhost "DNS:localhost,IP:127.0.0.1" "$(stamp $((now - 60 * day)))" "$(stamp $((now - 30 * day)))"
issue not-yet-valid localhost "DNS:localhost,IP:127.0.0.1" "$(stamp $((now + 30 * day)))" "$(stamp $((now + 60 * day)))"

# Self-signed for localhost: the right name and dates, but no trusted issuer.
quiet openssl req -x509 -key "$work/server.key" -sha256 -days 30 -out self-signed.pem \
    -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost,IP:127.0.0.1"
cp "$work/server.key" self-signed.key
rm -rf "$work"
