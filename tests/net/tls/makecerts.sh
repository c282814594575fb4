#!/bin/sh
# Makes the certificates the TLS tests use, in the folder given:
#   ca.pem/ca.key        a test authority
#   good.pem/.key        localhost and 127.0.0.1, issued by the authority
#   wrongname.pem/.key   other.example only, issued by the authority
#   expired.pem/.key     localhost, issued by the authority, expired in 2020
#   self.pem/.key        localhost, self-signed
#   self2.pem/.key       localhost, self-signed (another key: a "changed" one)
set -eu
dir=$1
mkdir -p "$dir"
cd "$dir"
export OPENSSL_CONF=/dev/null

openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 3650 \
  -subj "/CN=Tarvik Test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null

issue() { # name san
  printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\n' "$2" > "$1.ext"
  openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$3" 2>/dev/null
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -out "$1.pem" \
    -days 825 -extfile "$1.ext" 2>/dev/null
}
issue good "DNS:localhost,IP:127.0.0.1" localhost
issue wrongname "DNS:other.example" other.example

# An expired certificate needs dates in the past: a minimal authority setup.
mkdir -p ca.db
: > ca.db/index.txt
echo 1000 > ca.db/serial
cat > ca.cnf <<CNF
[ca]
default_ca = test
[test]
dir = ca.db
database = ca.db/index.txt
serial = ca.db/serial
new_certs_dir = ca.db
certificate = ca.pem
private_key = ca.key
default_md = sha256
policy = any
copy_extensions = none
unique_subject = no
[any]
commonName = supplied
[ext]
subjectAltName = DNS:localhost,IP:127.0.0.1
basicConstraints = CA:FALSE
CNF
openssl req -newkey rsa:2048 -nodes -keyout expired.key -out expired.csr -subj "/CN=localhost" 2>/dev/null
openssl ca -batch -config ca.cnf -extensions ext -startdate 20200101000000Z -enddate 20200201000000Z \
  -in expired.csr -out expired.pem -notext 2>/dev/null

for n in self self2; do
  openssl req -x509 -newkey rsa:2048 -nodes -keyout $n.key -out $n.pem -days 825 -subj "/CN=localhost" \
    -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" 2>/dev/null
done
