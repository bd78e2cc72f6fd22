// Thin wrappers over the libgcrypt calls that secure calls make: SHA-256, X25519, HKDF-SHA256
// over the library's HMAC, ChaCha20-Poly1305 and Ed25519. Kept apart from CSecureChannel so that the
// known-answer tests run the very calls the channel runs. No cryptography is done here by hand.
#pragma once

#include <cstddef>
#include <string>

struct gcry_cipher_handle;

namespace SecureCrypto {

const size_t kKeySize = 32; // X25519 keys and secrets, ChaCha20 keys
const size_t kNonceSize = 12;
const size_t kTagSize = 16;

// Initialises the library once per process; false (then and on every later call) when the
// library is unusable.
bool Init();

// Writes zeros in a way the compiler cannot drop.
void Wipe(void* p, size_t n);

// Fills with fresh random bytes from the library's strong generator.
void Random(unsigned char* p, size_t n);

// SHA-256 of a || b, by the library.
bool Sha256(const void* a, size_t aLength, const void* b, size_t bLength, unsigned char out[kKeySize]);

// RFC 7748 X25519: out = scalar * point, both little-endian as the RFC encodes them; a null
// point means the base point (u = 9), which gives the public key of a secret.
bool X25519(unsigned char out[kKeySize], const unsigned char scalar[kKeySize], const unsigned char* point);

// RFC 5869 HKDF with HMAC-SHA256 (Extract, then Expand to `okmLength` bytes, at most 255 * 32).
bool HkdfSha256(const unsigned char* salt, size_t saltLength, const unsigned char* ikm, size_t ikmLength,
    const unsigned char* info, size_t infoLength, unsigned char* okm, size_t okmLength);

// RFC 8439 ChaCha20-Poly1305 with one key held in a library handle.
gcry_cipher_handle* AeadOpen(const unsigned char key[kKeySize]); // null when the library fails
void AeadClose(gcry_cipher_handle* h); // null is fine
// Appends ciphertext || tag (plain.size() + 16 bytes) to *pSealed.
bool AeadSeal(gcry_cipher_handle* h, const unsigned char nonce[kNonceSize], const std::string& aad,
    const std::string& plain, std::string* pSealed);
// Ciphertext || tag back to the plain text; false when the tag does not match or the input is
// shorter than the tag (then *pPlain is left empty).
bool AeadUnseal(gcry_cipher_handle* h, const unsigned char nonce[kNonceSize], const std::string& aad,
    const std::string& sealed, std::string* pPlain);

// RFC 8032 Ed25519 (pure, no pre-hash): keys are the RFC's 32-byte encodings, the secret key being
// the 32-byte seed; signatures are R || S, 64 bytes.
const size_t kSignatureSize = 64;
// The public key of a secret key.
bool Ed25519Public(const unsigned char secret[kKeySize], unsigned char pub[kKeySize]);
bool Ed25519Sign(const unsigned char secret[kKeySize], const unsigned char pub[kKeySize],
    const std::string& message, unsigned char signature[kSignatureSize]);
// True only for a signature of exactly this message by this key.
bool Ed25519Verify(const unsigned char pub[kKeySize], const std::string& message,
    const unsigned char signature[kSignatureSize]);

} // namespace SecureCrypto
