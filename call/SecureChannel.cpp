#include "call/SecureChannel.h"

#include "call/Identity.h"

#include <cstdio>
#include <cstring>

using namespace SecureCrypto;

namespace {

// Key characters: no command letter, CR or zero among them, so wherever a read splits a key
// line, a reader that does not know it ignores every piece.
const char kKeyAlphabet[] = "0123456789bcdefghjkmnpqrstuvwxyz";
const size_t kKeyChars = 52; // 256 bits at 5 bits a character, 4 zero bits of padding
const size_t kKeyLineSize = 2 + kKeyChars; // without its CR
const char kSalt[] = "Kelvaro secure call 2";
const char kSalt3[] = "Kelvaro secure call 3";
// What an identity signs: one of these 25 bytes, then the version-3 transcript.
const char kProofCaller[] = "Kelvaro identity 3 caller";
const char kProofCallee[] = "Kelvaro identity 3 callee";
const size_t kProofBytes = kKeySize + kSignatureSize; // identity key, signature
const size_t kProofChars = 4 * kProofBytes / 3; // base64 of 96 bytes: 128 characters, no padding
const char kCommitPrefix[] = "Kelvaro commit 2"; // hashed before the caller's public key
const size_t kOkmSize = 2 * kKeySize + 4; // two direction keys and the code material

std::string EncodeKey(const unsigned char key[kKeySize])
{
    std::string out;
    unsigned bits = 0, nBits = 0;
    for (size_t i = 0; i < kKeySize; ++i) {
        bits = (bits << 8) | key[i];
        nBits += 8;
        while (nBits >= 5) {
            nBits -= 5;
            out += kKeyAlphabet[(bits >> nBits) & 31];
        }
    }
    if (nBits) out += kKeyAlphabet[(bits << (5 - nBits)) & 31];
    return out;
}

int KeyDigit(char c)
{
    for (int i = 0; i < 32; ++i)
        if (kKeyAlphabet[i] == c) return i;
    return -1;
}

// Exactly kKeyChars characters of the alphabet whose padding bits are zero.
bool DecodeKey(const std::string& text, unsigned char key[kKeySize])
{
    if (text.size() != kKeyChars) return false;
    unsigned bits = 0, nBits = 0;
    size_t n = 0;
    for (char c : text) {
        const int d = KeyDigit(c);
        if (d < 0) return false;
        bits = (bits << 5) | (unsigned)d;
        nBits += 5;
        if (nBits >= 8) {
            nBits -= 8;
            key[n++] = (unsigned char)(bits >> nBits);
        }
    }
    return (bits & ((1u << nBits) - 1)) == 0;
}

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void AppendBase64(const std::string& in, std::string* pOut)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(in.data());
    const size_t n = in.size();
    pOut->reserve(pOut->size() + (n + 2) / 3 * 4 + 1);
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const unsigned v = (unsigned)p[i] << 16 | (unsigned)p[i + 1] << 8 | p[i + 2];
        const char quad[4] = { kBase64[v >> 18], kBase64[(v >> 12) & 63], kBase64[(v >> 6) & 63],
            kBase64[v & 63] };
        pOut->append(quad, 4);
    }
    if (i < n) {
        const unsigned v = (unsigned)p[i] << 16 | (i + 1 < n ? (unsigned)p[i + 1] << 8 : 0);
        const char quad[4] = { kBase64[v >> 18], kBase64[(v >> 12) & 63],
            i + 1 < n ? kBase64[(v >> 6) & 63] : '=', '=' };
        pOut->append(quad, 4);
    }
}

int Base64Digit(unsigned char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Standard base64 in its one canonical form: whole quads, '=' only as the padding of the last
// one, zero padding bits. Anything else is no frame we could have sent.
bool DecodeBase64(const char* p, size_t n, std::string* pOut)
{
    pOut->clear();
    if (n % 4) return false;
    pOut->reserve(n / 4 * 3);
    for (size_t i = 0; i < n; i += 4) {
        const bool bLast = i + 4 == n;
        const int pad = bLast ? (p[i + 3] == '=') + (p[i + 3] == '=' && p[i + 2] == '=') : 0;
        int d[4] = { 0, 0, 0, 0 };
        for (int j = 0; j < 4 - pad; ++j)
            if ((d[j] = Base64Digit((unsigned char)p[i + j])) < 0) return false;
        const unsigned v = (unsigned)d[0] << 18 | (unsigned)d[1] << 12 | (unsigned)d[2] << 6 | (unsigned)d[3];
        *pOut += (char)(v >> 16);
        if (pad == 2) {
            if (v & 0xFFFF) return false;
        } else {
            *pOut += (char)(v >> 8);
            if (pad == 1) {
                if (v & 0xFF) return false;
            } else {
                *pOut += (char)v;
            }
        }
    }
    return true;
}

// Nonce of frame number `count` in one direction: 4 zero bytes, then the count, big-endian.
void MakeNonce(uint64_t count, unsigned char nonce[kNonceSize])
{
    for (int i = 0; i < 4; ++i) nonce[i] = 0;
    for (int i = 11; i >= 4; --i, count >>= 8) nonce[i] = (unsigned char)count;
}

void AppendField(std::string* pOut, const void* p, size_t n)
{
    const char len[4] = { (char)(n >> 24), (char)(n >> 16), (char)(n >> 8), (char)n };
    pOut->append(len, 4);
    pOut->append(static_cast<const char*>(p), n);
}

// A plain message as it would go on the wire: one line, ending in its only CR.
bool IsOneLine(const std::string& message)
{
    return !message.empty() && message.find('\r') == message.size() - 1;
}

// SHA-256("Kelvaro commit 2" || public key): what the caller commits to.
bool CommitmentOf(const unsigned char key[kKeySize], unsigned char out[kKeySize])
{
    return Sha256(kCommitPrefix, sizeof kCommitPrefix - 1, key, kKeySize, out);
}

// A key line without its CR: its two bytes of kind, then exactly one key in key characters.
bool ParseKeyLine(const std::string& line, const char* kind, unsigned char key[kKeySize])
{
    return line.size() == kKeyLineSize && line.compare(0, 2, kind) == 0 && DecodeKey(line.substr(2), key);
}

} // namespace

CSecureChannel::CSecureChannel()
    : m_state(Idle),
      m_role(Caller),
      m_hSeal(nullptr),
      m_hOpen(nullptr),
      m_nSealed(0),
      m_nOpened(0),
      m_nVersion(2)
{
    SecureCrypto::Wipe(m_secret, sizeof m_secret);
    SecureCrypto::Wipe(m_public, sizeof m_public);
    SecureCrypto::Wipe(m_commit, sizeof m_commit);
}

CSecureChannel::~CSecureChannel() { Wipe(); }

bool CSecureChannel::Start(Role role)
{
    Wipe();
    if (!Init()) return false;
    unsigned char secret[kKeySize];
    Random(secret, sizeof secret);
    const bool bOk = StartWithKey(role, secret);
    SecureCrypto::Wipe(secret, sizeof secret);
    return bOk;
}

bool CSecureChannel::StartWithKey(Role role, const unsigned char secret[kKeySize])
{
    Wipe();
    if (!Init()) return false;
    for (size_t i = 0; i < kKeySize; ++i) m_secret[i] = secret[i];
    if (!X25519(m_public, m_secret, nullptr)) {
        Wipe();
        return false;
    }
    m_role = role;
    m_state = Started;
    return true;
}

std::string CSecureChannel::CommitLine() const
{
    unsigned char commit[kKeySize];
    if (m_role != Caller || m_state != Started || !CommitmentOf(m_public, commit)) return std::string();
    return "H2" + EncodeKey(commit) + '\r';
}

std::string CSecureChannel::KeyLine() const
{
    if (m_state != Started && m_state != Committed && m_state != Talking) return std::string();
    return (m_role == Caller ? "K2" : "k2") + EncodeKey(m_public) + '\r';
}

bool CSecureChannel::IsFrame(const std::string& line) { return !line.empty() && line[0] == 'E'; }

bool CSecureChannel::TakeCommit(const std::string& commitLine)
{
    if (m_role != Callee || m_state != Started || !ParseKeyLine(commitLine, "H2", m_commit)) {
        Kill();
        return false;
    }
    m_state = Committed;
    return true;
}

bool CSecureChannel::Complete(
    const std::string& peerKeyLine, const std::string& callerGreeting, const std::string& calleeGreeting)
{
    unsigned char peer[kKeySize];
    unsigned char commit[kKeySize] = {};
    // The caller completes with the answer; the callee with the reveal, once committed to.
    bool bOk = m_role == Caller ? m_state == Started && ParseKeyLine(peerKeyLine, "k2", peer)
                                : m_state == Committed && ParseKeyLine(peerKeyLine, "K2", peer);
    if (bOk && m_role == Callee) {
        unsigned char diff = 0;
        bOk = CommitmentOf(peer, commit);
        for (size_t i = 0; i < kKeySize; ++i) diff |= (unsigned char)(commit[i] ^ m_commit[i]);
        bOk = bOk && diff == 0;
    }
    bOk = bOk && Agree(peer, callerGreeting, calleeGreeting);
    // The agreement is done either way: the secret key has served its one use.
    SecureCrypto::Wipe(m_secret, sizeof m_secret);
    if (!bOk) Kill();
    return bOk;
}

bool CSecureChannel::Agree(
    const unsigned char peer[kKeySize], const std::string& callerGreeting, const std::string& calleeGreeting)
{
    unsigned char z[kKeySize];
    unsigned char okm[kOkmSize];
    bool bOk = X25519(z, m_secret, peer);
    // A peer key of small order gives the all-zero secret: no secret at all.
    unsigned char any = 0;
    for (size_t i = 0; bOk && i < kKeySize; ++i) any |= z[i];
    bOk = bOk && any != 0;
    if (bOk) {
        const unsigned char* callerKey = m_role == Caller ? m_public : peer;
        const unsigned char* calleeKey = m_role == Caller ? peer : m_public;
        std::string transcript;
        AppendField(&transcript, callerGreeting.data(), callerGreeting.size());
        AppendField(&transcript, calleeGreeting.data(), calleeGreeting.size());
        // Version 3 also holds the commitment, between the greetings and the keys.
        unsigned char commit[kKeySize];
        if (m_nVersion == 3) {
            bOk = CommitmentOf(callerKey, commit);
            AppendField(&transcript, commit, kKeySize);
        }
        AppendField(&transcript, callerKey, kKeySize);
        AppendField(&transcript, calleeKey, kKeySize);
        const char* salt = m_nVersion == 3 ? kSalt3 : kSalt;
        bOk = bOk &&
            HkdfSha256(reinterpret_cast<const unsigned char*>(salt), std::strlen(salt), z, sizeof z,
                reinterpret_cast<const unsigned char*>(transcript.data()), transcript.size(), okm,
                sizeof okm);
        if (bOk && m_nVersion == 3) m_transcript = transcript;
    }
    if (bOk) {
        // Bytes 0..31 key the caller's direction, 32..63 the callee's.
        m_hSeal = AeadOpen(okm + (m_role == Caller ? 0 : kKeySize));
        m_hOpen = AeadOpen(okm + (m_role == Caller ? kKeySize : 0));
        bOk = m_hSeal && m_hOpen;
    }
    if (bOk) {
        const uint32_t n =
            (uint32_t)okm[64] << 24 | (uint32_t)okm[65] << 16 | (uint32_t)okm[66] << 8 | okm[67];
        char code[8];
        std::snprintf(code, sizeof code, "%03u %03u", (unsigned)(n % 1000000 / 1000), (unsigned)(n % 1000));
        m_strCode = code;
        m_state = Talking;
    }
    SecureCrypto::Wipe(z, sizeof z);
    SecureCrypto::Wipe(okm, sizeof okm);
    return bOk;
}

bool CSecureChannel::Ready() const { return m_state == Talking; }

std::string CSecureChannel::Code() const { return m_strCode; }

std::string CSecureChannel::Seal(const std::string& message)
{
    std::string frame;
    if (m_state != Talking || !IsOneLine(message)) return frame;
    unsigned char nonce[kNonceSize];
    MakeNonce(m_nSealed, nonce);
    std::string sealed;
    if (!AeadSeal(m_hSeal, nonce, std::string(), message, &sealed)) {
        Kill();
        return frame;
    }
    ++m_nSealed;
    frame = "E";
    AppendBase64(sealed, &frame);
    frame += '\r';
    return frame;
}

bool CSecureChannel::Open(const std::string& frameLine, std::string* pMessage)
{
    pMessage->clear();
    if (m_state != Talking) return false;
    unsigned char nonce[kNonceSize];
    MakeNonce(m_nOpened, nonce);
    std::string sealed;
    // Only the next frame in order can authenticate: a replayed, dropped or reordered one fails
    // like a changed one.
    if (!IsFrame(frameLine) || !DecodeBase64(frameLine.data() + 1, frameLine.size() - 1, &sealed) ||
        !AeadUnseal(m_hOpen, nonce, std::string(), sealed, pMessage) || !IsOneLine(*pMessage)) {
        pMessage->clear();
        Kill();
        return false;
    }
    ++m_nOpened;
    return true;
}

std::string CSecureChannel::VersionLine() { return "V3\r"; }

bool CSecureChannel::IsVersionLine(const std::string& line) { return line == "V3"; }

void CSecureChannel::UseVersion3()
{
    if (m_state == Started || m_state == Committed) m_nVersion = 3;
}

std::string CSecureChannel::ProofMessage(const CIdentity& identity) const
{
    unsigned char proof[kProofBytes];
    if (m_state != Talking || m_nVersion != 3 || !identity.Valid()) return std::string();
    const std::string signedText = (m_role == Caller ? kProofCaller : kProofCallee) + m_transcript;
    for (size_t i = 0; i < kKeySize; ++i) proof[i] = identity.PublicKey()[i];
    if (!identity.Sign(signedText, proof + kKeySize)) return std::string();
    std::string message = "P";
    AppendBase64(std::string(reinterpret_cast<const char*>(proof), sizeof proof), &message);
    return message + '\r';
}

bool CSecureChannel::TakeProof(const std::string& message, std::string* pFingerprint)
{
    pFingerprint->clear();
    std::string proof;
    // The partner signs as the other role: a proof sent back to its maker does not hold.
    const std::string signedText = (m_role == Caller ? kProofCallee : kProofCaller) + m_transcript;
    const bool bOk = m_state == Talking && m_nVersion == 3 && message.size() == 1 + kProofChars + 1 &&
        message[0] == 'P' && message.back() == '\r' &&
        DecodeBase64(message.data() + 1, kProofChars, &proof) && proof.size() == kProofBytes &&
        Ed25519Verify(reinterpret_cast<const unsigned char*>(proof.data()), signedText,
            reinterpret_cast<const unsigned char*>(proof.data()) + kKeySize);
    if (!bOk) {
        Kill();
        return false;
    }
    *pFingerprint = CIdentity::FingerprintOf(reinterpret_cast<const unsigned char*>(proof.data()));
    return true;
}

void CSecureChannel::Kill()
{
    const std::string code = m_strCode;
    Wipe();
    m_strCode = code;
    m_state = Dead;
}

void CSecureChannel::Wipe()
{
    AeadClose(m_hSeal);
    AeadClose(m_hOpen);
    m_hSeal = m_hOpen = nullptr;
    SecureCrypto::Wipe(m_secret, sizeof m_secret);
    SecureCrypto::Wipe(m_public, sizeof m_public);
    SecureCrypto::Wipe(m_commit, sizeof m_commit);
    m_nSealed = m_nOpened = 0;
    m_strCode.clear();
    m_transcript.clear();
    m_nVersion = 2;
    m_state = Idle;
}
