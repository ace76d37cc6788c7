"""Signing of release statements: what tools/release/sign-release and the local release server
share. Keys are ECDSA P-256; a signature is r then s, 32 bytes each, in base64.

The statement is the text the installer rebuilds from the reply and checks:

    tavro-release-1\\nTavro\\n<Version>\\n<BuildNumber>\\n<Sha256>\\n<PackageSize>\\n<Expires>\\n
"""

import base64
import datetime
import hashlib
import re

from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.asymmetric.utils import (decode_dss_signature,
                                                             encode_dss_signature)

KEY_ID = re.compile(r"[A-Za-z0-9._-]{1,32}")
# What the installer reads back unchanged from a JSON string: printable ASCII without the quote
# and the backslash (which JSON would escape).
PLAIN_VALUE = re.compile(r"[\x20-\x21\x23-\x5b\x5d-\x7e]+")
TIME_FORMAT = "%Y-%m-%dT%H:%M:%SZ"
MEMBER_ORDER = ("Version", "BuildNumber", "Sha256", "PackageSize", "Expires", "KeyId", "Signature")


def statement_text(version, build_number, sha256, package_size, expires):
    lines = ["tavro-release-1", "Tavro", version, build_number, sha256.lower(), str(package_size),
             expires]
    return "".join(line + "\n" for line in lines)


def load_private_key(path):
    with open(path, "rb") as key_file:
        key = serialization.load_pem_private_key(key_file.read(), password=None)
    if not isinstance(key, ec.EllipticCurvePrivateKey) or key.curve.name != "secp256r1":
        raise ValueError(f"{path} is not a P-256 private key")
    return key


def public_key_base64(key):
    """The DER SubjectPublicKeyInfo of the key's public half in base64: TAVRO_RELEASE_KEYS' form."""
    der = key.public_key().public_bytes(serialization.Encoding.DER,
                                        serialization.PublicFormat.SubjectPublicKeyInfo)
    return base64.b64encode(der).decode("ascii")


def raw_signature(key, text):
    """r then s, each 32 bytes big-endian (left-padded), in base64."""
    r, s = decode_dss_signature(key.sign(text.encode("utf-8"), ec.ECDSA(hashes.SHA256())))
    return base64.b64encode(r.to_bytes(32, "big") + s.to_bytes(32, "big")).decode("ascii")


def der_signature(key, text):
    """The same signature as DER, which the installer must refuse."""
    return base64.b64encode(key.sign(text.encode("utf-8"),
                                     ec.ECDSA(hashes.SHA256()))).decode("ascii")


def verify(public_key, text, signature_base64):
    raw = base64.b64decode(signature_base64, validate=True)
    if len(raw) != 64:
        return False
    der = encode_dss_signature(int.from_bytes(raw[:32], "big"), int.from_bytes(raw[32:], "big"))
    try:
        public_key.verify(der, text.encode("utf-8"), ec.ECDSA(hashes.SHA256()))
    except InvalidSignature:
        return False
    return True


def expiry_after(days, now=None):
    now = now or datetime.datetime.now(datetime.timezone.utc)
    return (now + datetime.timedelta(days=days)).strftime(TIME_FORMAT)


def file_sha256_and_size(path):
    digest = hashlib.sha256()
    size = 0
    with open(path, "rb") as package:
        for block in iter(lambda: package.read(1 << 20), b""):
            digest.update(block)
            size += len(block)
    return digest.hexdigest(), size


def check_values(key_id, version, build_number, expires):
    if not KEY_ID.fullmatch(key_id):
        raise ValueError(f"key id '{key_id}' is not 1 to 32 characters of A-Z a-z 0-9 . _ -")
    for name, value in (("version", version), ("build number", build_number)):
        if not PLAIN_VALUE.fullmatch(value):
            raise ValueError(f"the {name} '{value}' must be printable ASCII without quotes or "
                             "backslashes")
    datetime.datetime.strptime(expires, TIME_FORMAT)


def signed_members(key, key_id, version, build_number, sha256, package_size, expires):
    """The reply members of a signed release, in order; the signature is checked before return."""
    check_values(key_id, version, build_number, expires)
    text = statement_text(version, build_number, sha256, package_size, expires)
    signature = raw_signature(key, text)
    if not verify(key.public_key(), text, signature):
        raise RuntimeError("the signature just made does not verify")
    return {"Version": version, "BuildNumber": build_number, "Sha256": sha256.lower(),
            "PackageSize": str(package_size), "Expires": expires, "KeyId": key_id,
            "Signature": signature}
