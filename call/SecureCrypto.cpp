#include "call/SecureCrypto.h"

#include <gcrypt.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace SecureCrypto {

namespace {

const size_t kHashSize = 32; // SHA-256

// The library's notes (on Windows its random generator says once that disk statistics are off)
// are no concern of the user's; warnings and errors still go to the error output.
void LogHandler(void*, int level, const char* format, va_list args)
{
    if (level >= GCRY_LOG_WARN && level != GCRY_LOG_DEBUG) std::vfprintf(stderr, format, args);
}

bool InitOnce()
{
    // Another part of the process may have set the library up already; then it is ours too.
    if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) return gcry_check_version(GCRYPT_VERSION) != nullptr;
    if (!gcry_check_version(GCRYPT_VERSION)) return false;
    gcry_set_log_handler(LogHandler, nullptr);
    // Secure memory holds the cipher states and the library's own scalars. It cannot always be
    // locked (Windows, a user without the right); that is no reason to print warnings to a
    // window program's missing console, nor to refuse calls.
    gcry_control(GCRYCTL_DISABLE_SECMEM_WARN);
    if (gcry_control(GCRYCTL_INIT_SECMEM, 32768, 0)) return false;
    gcry_control(GCRYCTL_AUTO_EXPAND_SECMEM, 32768);
    return gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0) == 0;
}

// HMAC-SHA256 of the concatenated parts under `key`, by the library.
bool HmacSha256(const unsigned char* key, size_t keyLength, const gcry_buffer_t* parts, int nParts,
    unsigned char out[kHashSize])
{
    gcry_buffer_t iov[4] = {};
    if (nParts > 3) return false;
    iov[0].data = const_cast<unsigned char*>(key);
    iov[0].len = keyLength;
    for (int i = 0; i < nParts; ++i) iov[i + 1] = parts[i];
    return gcry_md_hash_buffers(GCRY_MD_SHA256, GCRY_MD_FLAG_HMAC, out, iov, nParts + 1) == 0;
}

gcry_buffer_t Buffer(const void* p, size_t n)
{
    gcry_buffer_t b = {};
    b.data = const_cast<void*>(p);
    b.len = n;
    return b;
}

// The bytes of an opaque or plain MPI, or of a string in an S-expression, as exactly n bytes.
bool SexpBytes(gcry_sexp_t sexp, const char* token, unsigned char* out, size_t n)
{
    gcry_sexp_t part = gcry_sexp_find_token(sexp, token, 0);
    if (!part) return false;
    size_t len = 0;
    const char* data = gcry_sexp_nth_data(part, 1, &len);
    const bool bOk = data && len == n;
    if (bOk) std::memcpy(out, data, n);
    gcry_sexp_release(part);
    return bOk;
}

} // namespace

bool Init()
{
    static const bool bReady = InitOnce();
    return bReady;
}

void Wipe(void* p, size_t n)
{
    volatile unsigned char* q = static_cast<volatile unsigned char*>(p);
    while (n--) *q++ = 0;
}

void Random(unsigned char* p, size_t n) { gcry_randomize(p, n, GCRY_STRONG_RANDOM); }

bool Sha256(const void* a, size_t aLength, const void* b, size_t bLength, unsigned char out[kKeySize])
{
    const gcry_buffer_t parts[2] = { Buffer(a, aLength), Buffer(b, bLength) };
    return gcry_md_hash_buffers(GCRY_MD_SHA256, 0, out, const_cast<gcry_buffer_t*>(parts), 2) == 0;
}

bool X25519(unsigned char out[kKeySize], const unsigned char scalar[kKeySize], const unsigned char* point)
{
    return gcry_ecc_mul_point(GCRY_ECC_CURVE25519, out, scalar, point) == 0;
}

bool HkdfSha256(const unsigned char* salt, size_t saltLength, const unsigned char* ikm, size_t ikmLength,
    const unsigned char* info, size_t infoLength, unsigned char* okm, size_t okmLength)
{
    if (okmLength > 255 * kHashSize) return false;
    unsigned char prk[kHashSize];
    unsigned char t[kHashSize];
    const gcry_buffer_t extract = Buffer(ikm, ikmLength);
    bool bOk = HmacSha256(salt, saltLength, &extract, 1, prk);
    // T(i) = HMAC(PRK, T(i-1) || info || i), T(0) empty; OKM is T(1) T(2) ... cut to length.
    for (size_t done = 0, i = 1; bOk && done < okmLength; ++i) {
        const unsigned char counter = (unsigned char)i;
        const gcry_buffer_t parts[3] = { Buffer(t, i == 1 ? 0 : kHashSize), Buffer(info, infoLength),
            Buffer(&counter, 1) };
        bOk = HmacSha256(prk, kHashSize, parts, 3, t);
        for (size_t j = 0; bOk && j < kHashSize && done < okmLength; ++j) okm[done++] = t[j];
    }
    Wipe(prk, sizeof prk);
    Wipe(t, sizeof t);
    if (!bOk) Wipe(okm, okmLength);
    return bOk;
}

gcry_cipher_handle* AeadOpen(const unsigned char key[kKeySize])
{
    gcry_cipher_hd_t h = nullptr;
    if (gcry_cipher_open(&h, GCRY_CIPHER_CHACHA20, GCRY_CIPHER_MODE_POLY1305, GCRY_CIPHER_SECURE))
        return nullptr;
    if (gcry_cipher_setkey(h, key, kKeySize)) {
        gcry_cipher_close(h);
        return nullptr;
    }
    return h;
}

void AeadClose(gcry_cipher_handle* h)
{
    if (h) gcry_cipher_close(h); // the library wipes the key state it held
}

bool AeadSeal(gcry_cipher_handle* h, const unsigned char nonce[kNonceSize], const std::string& aad,
    const std::string& plain, std::string* pSealed)
{
    if (!h || gcry_cipher_setiv(h, nonce, kNonceSize)) return false;
    if (!aad.empty() && gcry_cipher_authenticate(h, aad.data(), aad.size())) return false;
    const size_t at = pSealed->size();
    pSealed->resize(at + plain.size() + kTagSize);
    char* out = &(*pSealed)[at];
    if ((!plain.empty() && gcry_cipher_encrypt(h, out, plain.size(), plain.data(), plain.size())) ||
        gcry_cipher_gettag(h, out + plain.size(), kTagSize)) {
        pSealed->resize(at);
        return false;
    }
    return true;
}

bool AeadUnseal(gcry_cipher_handle* h, const unsigned char nonce[kNonceSize], const std::string& aad,
    const std::string& sealed, std::string* pPlain)
{
    pPlain->clear();
    if (!h || sealed.size() < kTagSize || gcry_cipher_setiv(h, nonce, kNonceSize)) return false;
    if (!aad.empty() && gcry_cipher_authenticate(h, aad.data(), aad.size())) return false;
    const size_t n = sealed.size() - kTagSize;
    pPlain->resize(n);
    if ((n && gcry_cipher_decrypt(h, &(*pPlain)[0], n, sealed.data(), n)) ||
        gcry_cipher_checktag(h, sealed.data() + n, kTagSize)) {
        pPlain->clear();
        return false;
    }
    return true;
}

bool Ed25519Public(const unsigned char secret[kKeySize], unsigned char pub[kKeySize])
{
    gcry_sexp_t key = nullptr;
    gcry_ctx_t ctx = nullptr;
    bool bOk = gcry_sexp_build(&key, nullptr, "(private-key (ecc (curve Ed25519) (flags eddsa) (d %b)))",
                   (int)kKeySize, secret) == 0 &&
        gcry_mpi_ec_new(&ctx, key, nullptr) == 0;
    // The library derives the public point from d and gives it in the RFC's encoding.
    gcry_mpi_t q = bOk ? gcry_mpi_ec_get_mpi("q@eddsa", ctx, 1) : nullptr;
    unsigned int nBits = 0;
    const void* p = q && gcry_mpi_get_flag(q, GCRYMPI_FLAG_OPAQUE) ? gcry_mpi_get_opaque(q, &nBits) : nullptr;
    bOk = p && nBits == 8 * kKeySize;
    if (bOk) std::memcpy(pub, p, kKeySize);
    gcry_mpi_release(q);
    gcry_ctx_release(ctx);
    gcry_sexp_release(key);
    return bOk;
}

bool Ed25519Sign(const unsigned char secret[kKeySize], const unsigned char pub[kKeySize],
    const std::string& message, unsigned char signature[kSignatureSize])
{
    gcry_sexp_t key = nullptr, data = nullptr, sig = nullptr;
    bool bOk =
        gcry_sexp_build(&key, nullptr, "(private-key (ecc (curve Ed25519) (flags eddsa) (q %b) (d %b)))",
            (int)kKeySize, pub, (int)kKeySize, secret) == 0 &&
        gcry_sexp_build(&data, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
            (int)message.size(), message.data()) == 0 &&
        gcry_pk_sign(&sig, data, key) == 0;
    bOk = bOk && SexpBytes(sig, "r", signature, kKeySize) &&
        SexpBytes(sig, "s", signature + kKeySize, kKeySize);
    gcry_sexp_release(sig);
    gcry_sexp_release(data);
    gcry_sexp_release(key);
    return bOk;
}

bool Ed25519Verify(const unsigned char pub[kKeySize], const std::string& message,
    const unsigned char signature[kSignatureSize])
{
    gcry_sexp_t key = nullptr, data = nullptr, sig = nullptr;
    const bool bOk = gcry_sexp_build(&key, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                         (int)kKeySize, pub) == 0 &&
        gcry_sexp_build(&data, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
            (int)message.size(), message.data()) == 0 &&
        gcry_sexp_build(&sig, nullptr, "(sig-val (eddsa (r %b) (s %b)))", (int)kKeySize, signature,
            (int)kKeySize, signature + kKeySize) == 0 &&
        gcry_pk_verify(sig, data, key) == 0;
    gcry_sexp_release(sig);
    gcry_sexp_release(data);
    gcry_sexp_release(key);
    return bOk;
}

} // namespace SecureCrypto
