#!/bin/sh
# Makes throwaway code-signing certificates for the tests and the demo with the openssl command
# line. Nothing here signs a release: a production build takes its certificate from the build
# setting TAVRO_SIGNING_CERT (see docs/signing.md).
#   make-signing-certs.sh DIR
# Writes into DIR (created; an earlier set there is replaced):
#   ca.pem                       a throwaway CA (trusted only inside a test or demo Wine prefix)
#   signer.pem/.key              from that CA: "Quendrel Test Signing", extended key usage codeSigning
#   other-signer.pem/.key        from the same CA: another signer with its own key
set -eu
if [ $# -ne 1 ]; then
    echo "usage: $0 DIR" >&2
    exit 2
fi
dir=$1
work="$dir/.ca"
rm -rf "$work"
mkdir -p "$work"

quiet() { "$@" >/dev/null 2>"$work/openssl.err" || { cat "$work/openssl.err" >&2; exit 1; }; }

quiet openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 825 -keyout "$work/ca.key" \
    -out "$dir/ca.pem" -subj "/CN=Tavro Test Code Signing CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
cat > "$work/signer.ext" <<EXT
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
EXT

# issue NAME SUBJECT: a code-signing certificate of the CA, with a key of its own.
issue() {
    quiet openssl req -new -newkey rsa:2048 -nodes -keyout "$dir/$1.key" -subj "$2" \
        -out "$work/$1.csr"
    quiet openssl x509 -req -in "$work/$1.csr" -CA "$dir/ca.pem" -CAkey "$work/ca.key" \
        -CAcreateserial -sha256 -days 825 -extfile "$work/signer.ext" -out "$dir/$1.pem"
}
issue signer "/O=Quendrel/CN=Quendrel Test Signing"
issue other-signer "/O=Someone Else/CN=Someone Else Test Signing"
rm -rf "$work" "$dir/ca.srl"
