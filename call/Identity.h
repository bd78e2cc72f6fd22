// A copy's long-term identity: an Ed25519 key pair made at its first start, with which it proves
// in every encrypted call that it is the same copy as before. Its fingerprint (SHA-256 of the
// public key, 64 lowercase hex characters) is what names a partner, never its address or name.
// The file's text is composed and read here; keeping the secret key from other Windows users is
// the window side's (app/TrustFiles.h). No Windows header: the host tests use it as it is.
#pragma once

#include "call/SecureCrypto.h"

#include <string>

class CIdentity {
public:
    CIdentity();
    ~CIdentity(); // wipes
    CIdentity(const CIdentity&) = delete;
    CIdentity& operator=(const CIdentity&) = delete;

    // A new key pair from the library's strong generator; false when the library fails.
    bool Generate();
    // The key pair of a secret key (the RFC's 32-byte seed); false when the library fails.
    bool SetSecret(const unsigned char secret[SecureCrypto::kKeySize]);
    bool Valid() const { return m_bValid; }
    const unsigned char* PublicKey() const { return m_public; }
    const unsigned char* SecretKey() const { return m_secret; }
    std::string Fingerprint() const; // empty when not valid
    bool Sign(const std::string& message, unsigned char signature[SecureCrypto::kSignatureSize]) const;

    // SHA-256 of a public key as 64 lowercase hex characters.
    static std::string FingerprintOf(const unsigned char pub[SecureCrypto::kKeySize]);

private:
    bool m_bValid;
    unsigned char m_secret[SecureCrypto::kKeySize];
    unsigned char m_public[SecureCrypto::kKeySize];
};

// The identity file, "Identity.key": ASCII lines ending in CRLF,
//   "Kelvaro identity 1"
//   "public " + the public key in hex
//   "protected " + hex of the secret key as the system's per-user protection returned it, or
//   "secret " + the secret key in hex where the system offers no such protection.
std::string FormatIdentityFile(
    const unsigned char pub[SecureCrypto::kKeySize], bool bProtected, const std::string& secretBlob);
// Reads that text back; false for anything else (a missing line, a wrong length, a stray byte).
// The caller checks that the secret key gives the public key: that also catches a changed byte.
bool ParseIdentityFile(const std::string& text, unsigned char pub[SecureCrypto::kKeySize], bool* pbProtected,
    std::string* pSecretBlob);

// Lowercase hex of bytes, and back (false for an odd length or a byte that is no hex digit).
std::string ToHex(const void* p, size_t n);
bool FromHex(const std::string& hex, std::string* pOut);
