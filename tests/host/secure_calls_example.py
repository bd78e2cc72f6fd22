#!/usr/bin/env python3
"""The worked example of secure calls version 3 in docs/secure-calls.md, computed from the note
alone with Python's hashlib, hmac and base64 and the X25519, Ed25519, HKDF and ChaCha20-Poly1305
of python3-cryptography: nothing of Kelvaro's own code. The host known-answer test holds these
values. Run without arguments it prints the example; with a path it checks that the note holds
every line of it (exit 1 otherwise)."""
import base64
import hashlib
import hmac
import struct
import sys

from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey
from cryptography.hazmat.primitives.asymmetric.x25519 import X25519PrivateKey, X25519PublicKey
from cryptography.hazmat.primitives.ciphers.aead import ChaCha20Poly1305
from cryptography.hazmat.primitives.serialization import Encoding, PublicFormat

ALPHABET = "0123456789bcdefghjkmnpqrstuvwxyz"

# RFC 7748 section 6.1 (X25519) and RFC 8032 section 7.1 tests 1 and 2 (Ed25519).
CALLER_SECRET = bytes.fromhex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a")
CALLEE_SECRET = bytes.fromhex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb")
CALLER_IDENTITY = bytes.fromhex("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60")
CALLEE_IDENTITY = bytes.fromhex("4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb")


def raw(public_key):
    return public_key.public_bytes(Encoding.Raw, PublicFormat.Raw)


def enc52(data):
    number = int.from_bytes(data, "big") << 4
    return "".join(ALPHABET[(number >> (5 * (51 - i))) & 31] for i in range(52))


def field(data):
    return struct.pack(">I", len(data)) + data


def hkdf(salt, ikm, info, length):
    prk = hmac.new(salt, ikm, hashlib.sha256).digest()
    okm, block, counter = b"", b"", 1
    while len(okm) < length:
        block = hmac.new(prk, block + info + bytes([counter]), hashlib.sha256).digest()
        okm += block
        counter += 1
    return okm[:length]


def nonce(count):
    return b"\0\0\0\0" + struct.pack(">Q", count)


def frame(key, count, message):
    return "E" + base64.b64encode(ChaCha20Poly1305(key).encrypt(nonce(count), message, None)).decode()


def hexlines(label, data, indent=15):
    text = data.hex()
    rows = [text[i:i + 64] for i in range(0, len(text), 64)]
    out = ["    %-*s%s" % (indent, label, rows[0])]
    out += ["    " + " " * indent + row for row in rows[1:]]
    return out


def example():
    caller = X25519PrivateKey.from_private_bytes(CALLER_SECRET)
    callee = X25519PrivateKey.from_private_bytes(CALLEE_SECRET)
    pi, pa = raw(caller.public_key()), raw(callee.public_key())
    id_caller = Ed25519PrivateKey.from_private_bytes(CALLER_IDENTITY)
    id_callee = Ed25519PrivateKey.from_private_bytes(CALLEE_IDENTITY)
    qi, qa = raw(id_caller.public_key()), raw(id_callee.public_key())

    caller_greeting = b"i1north\rInorth"
    callee_greeting = b"a1south\rAsouth"
    commit = hashlib.sha256(b"Kelvaro commit 2" + pi).digest()
    z = caller.exchange(X25519PublicKey.from_public_bytes(pa))
    assert z == callee.exchange(X25519PublicKey.from_public_bytes(pi))
    t = field(caller_greeting) + field(callee_greeting) + field(commit) + field(pi) + field(pa)
    okm = hkdf(b"Kelvaro secure call 3", z, t, 68)
    k_caller, k_callee = okm[:32], okm[32:64]
    n = int.from_bytes(okm[64:68], "big")
    code = "%06d" % (n % 1000000)
    code = code[:3] + " " + code[3:]

    sig_caller = id_caller.sign(b"Kelvaro identity 3 caller" + t)
    sig_callee = id_callee.sign(b"Kelvaro identity 3 callee" + t)
    proof_caller = b"P" + base64.b64encode(qi + sig_caller) + b"\r"
    proof_callee = b"P" + base64.b64encode(qa + sig_callee) + b"\r"

    lines = []
    lines += hexlines("caller identity", CALLER_IDENTITY, 24)
    lines += hexlines("caller identity public", qi, 24)
    lines += hexlines("caller fingerprint", hashlib.sha256(qi).digest(), 24)
    lines += hexlines("callee identity", CALLEE_IDENTITY, 24)
    lines += hexlines("callee identity public", qa, 24)
    lines += hexlines("callee fingerprint", hashlib.sha256(qa).digest(), 24)
    lines.append("")
    lines.append("    caller to callee  \"i1north\" CR \"Inorth\" \"V3\" CR \"H2%s\" CR" % enc52(commit))
    lines.append("    callee to caller  \"V3\" CR \"k2%s\" CR" % enc52(pa))
    lines.append("    caller to callee  \"K2%s\" CR" % enc52(pi))
    lines.append("")
    lines += hexlines("T (144 bytes)", t)
    lines += hexlines("OKM", okm)
    lines.append("    N              0x%08x = %d; code \"%s\"" % (n, n, code))
    lines.append("")
    lines += hexlines("caller signs", sig_caller)
    lines += hexlines("callee signs", sig_callee)
    lines.append("")
    frames = [
        ("caller's frame 0, the caller's proof", k_caller, 0, proof_caller),
        ("callee's frame 0, the callee's proof", k_callee, 0, proof_callee),
        ("callee's frame 1, \"C\" CR", k_callee, 1, b"C\r"),
        ("caller's frame 1, \"Shello\" CR", k_caller, 1, b"Shello\r"),
        ("caller's frame 2, \"X\" CR", k_caller, 2, b"X\r"),
    ]
    for label, key, count, message in frames:
        lines.append("    " + label)
        text = frame(key, count, message)
        lines += ["        " + text[i:i + 88] for i in range(0, len(text), 88)]
    assert len(t) == 144
    return lines


def main():
    lines = example()
    if len(sys.argv) < 2:
        print("\n".join(lines))
        return 0
    with open(sys.argv[1], encoding="utf-8") as f:
        note = f.read()
    if "\n".join(lines) not in note:
        print("%s: the worked example of version 3 differs from what %s computes" % (sys.argv[1], sys.argv[0]))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
