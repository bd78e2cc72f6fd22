#include "call/Identity.h"

using namespace SecureCrypto;

namespace {

const char kFileHeader[] = "Kelvaro identity 1";

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace

std::string ToHex(const void* p, size_t n)
{
    static const char kDigits[] = "0123456789abcdef";
    const unsigned char* b = static_cast<const unsigned char*>(p);
    std::string out;
    out.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        out += kDigits[b[i] >> 4];
        out += kDigits[b[i] & 15];
    }
    return out;
}

bool FromHex(const std::string& hex, std::string* pOut)
{
    pOut->clear();
    if (hex.size() % 2) return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        *pOut += (char)(hi << 4 | lo);
    }
    return true;
}

CIdentity::CIdentity() : m_bValid(false)
{
    Wipe(m_secret, sizeof m_secret);
    Wipe(m_public, sizeof m_public);
}

CIdentity::~CIdentity() { Wipe(m_secret, sizeof m_secret); }

bool CIdentity::Generate()
{
    if (!Init()) return false;
    unsigned char secret[kKeySize];
    Random(secret, sizeof secret);
    const bool bOk = SetSecret(secret);
    Wipe(secret, sizeof secret);
    return bOk;
}

bool CIdentity::SetSecret(const unsigned char secret[kKeySize])
{
    m_bValid = false;
    if (!Init() || !Ed25519Public(secret, m_public)) return false;
    for (size_t i = 0; i < kKeySize; ++i) m_secret[i] = secret[i];
    m_bValid = true;
    return true;
}

std::string CIdentity::Fingerprint() const { return m_bValid ? FingerprintOf(m_public) : std::string(); }

bool CIdentity::Sign(const std::string& message, unsigned char signature[kSignatureSize]) const
{
    return m_bValid && Ed25519Sign(m_secret, m_public, message, signature);
}

std::string CIdentity::FingerprintOf(const unsigned char pub[kKeySize])
{
    unsigned char hash[kKeySize];
    if (!Init() || !Sha256(pub, kKeySize, nullptr, 0, hash)) return std::string();
    return ToHex(hash, sizeof hash);
}

std::string FormatIdentityFile(
    const unsigned char pub[kKeySize], bool bProtected, const std::string& secretBlob)
{
    return std::string(kFileHeader) + "\r\npublic " + ToHex(pub, kKeySize) + "\r\n" +
        (bProtected ? "protected " : "secret ") + ToHex(secretBlob.data(), secretBlob.size()) + "\r\n";
}

bool ParseIdentityFile(
    const std::string& text, unsigned char pub[kKeySize], bool* pbProtected, std::string* pSecretBlob)
{
    pSecretBlob->clear();
    std::string lines[3];
    size_t pos = 0;
    for (std::string& line : lines) {
        const size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) return false;
        line = text.substr(pos, end - pos);
        pos = end + 2;
    }
    std::string key;
    if (pos != text.size() || lines[0] != kFileHeader || lines[1].compare(0, 7, "public ") != 0 ||
        !FromHex(lines[1].substr(7), &key) || key.size() != kKeySize)
        return false;
    *pbProtected = lines[2].compare(0, 10, "protected ") == 0;
    const size_t skip = *pbProtected ? 10 : 7;
    if (!*pbProtected && lines[2].compare(0, 7, "secret ") != 0) return false;
    if (!FromHex(lines[2].substr(skip), pSecretBlob) || pSecretBlob->empty() ||
        (!*pbProtected && pSecretBlob->size() != kKeySize)) {
        Wipe(&(*pSecretBlob)[0], pSecretBlob->size());
        pSecretBlob->clear();
        return false;
    }
    for (size_t i = 0; i < kKeySize; ++i) pub[i] = (unsigned char)key[i];
    return true;
}
