// One secure call: an ephemeral X25519 key agreement carried in three key lines (the caller's
// commitment to its key, the callee's key, the caller's key), keys for each direction from
// HKDF-SHA256 over the shared secret and the transcript (both greetings, both public keys), and
// every later message sealed with ChaCha20-Poly1305 into an "E" frame line. The caller commits
// before it sees the callee's key, so a man in the middle cannot try keys until the two codes
// match. The exact bytes are in docs/secure-calls.md. No Windows header here: the call core and
// the host tests use it as it is; the cryptography is libgcrypt's.
#pragma once

#include "call/SecureCrypto.h"

class CIdentity;

#include <cstdint>
#include <string>

class CSecureChannel {
public:
    enum Role { Caller, Callee };
    CSecureChannel();
    ~CSecureChannel(); // wipes
    CSecureChannel(const CSecureChannel&) = delete;
    CSecureChannel& operator=(const CSecureChannel&) = delete;

    // A new ephemeral key pair for one call (whatever the channel held is wiped first); false
    // when the library fails.
    bool Start(Role role);
    // Start with a fixed secret key instead of a random one: for tests and known-answer checks
    // only; a real call always uses Start.
    bool StartWithKey(Role role, const unsigned char secret[SecureCrypto::kKeySize]);

    // The caller's commitment line with its CR, "H2" and the hash of its public key; empty for a
    // callee, before Start and once the channel is dead.
    std::string CommitLine() const;
    // This side's key line with its CR: the caller's reveal line "K2...", the callee's answer
    // line "k2..."; empty before Start and once the channel is dead.
    std::string KeyLine() const;
    // The callee takes the caller's commitment line (without CR). False for a malformed line, a
    // second one or a caller's channel; a failure kills the channel.
    bool TakeCommit(const std::string& commitLine);
    // Completes the agreement with the partner's key line (without CR) and the two greetings as
    // composed: the caller with the answer line, the callee with the reveal line, which must
    // match the commitment taken before. False for a malformed key line (or one of this side's
    // own role), a reveal that breaks the commitment or a failed agreement. Works once per Start:
    // a failure, or any later call, kills the channel.
    bool Complete(
        const std::string& peerKeyLine, const std::string& callerGreeting, const std::string& calleeGreeting);
    bool Ready() const; // Complete succeeded and nothing was refused since
    // "123 456" once Complete succeeded (kept after a refusal, for the record of the call, until
    // Wipe or the next Start); empty before.
    std::string Code() const;
    // One plain message (with its CR) sealed into a frame line with its CR. Empty when the
    // channel is not ready or the message is not exactly one line ending in CR (the partner
    // would refuse it); nothing is counted then.
    std::string Seal(const std::string& message);
    // A received frame line (without CR); true with the plain message (with its CR), or false.
    // A refusal kills the channel: every later Open and Seal fails.
    bool Open(const std::string& frameLine, std::string* pMessage);
    static bool IsFrame(const std::string& line); // first byte "E"

    // Version 3 adds a proof of each side's long-term identity. The caller sends the version
    // line before its commitment; a callee that speaks version 3 sends it back before its answer
    // line. Both then call UseVersion3 before Complete: keys and code come from another salt and
    // a transcript that also holds the commitment, so a version line dropped on one way only
    // gives two codes and frames that do not open.
    static std::string VersionLine(); // "V3" CR
    static bool IsVersionLine(const std::string& line); // "V3", without CR
    void UseVersion3(); // before Complete only
    int Version() const { return m_nVersion; }
    // This side's identity proof, one plain message to be sealed as its first frame: "P",
    // base64 of the identity's public key and its signature over the transcript, CR. Empty
    // unless a version-3 agreement is complete.
    std::string ProofMessage(const CIdentity& identity) const;
    // The partner's proof, opened from its first frame: true with the fingerprint of its key when
    // the signature holds; false (and the channel dead) otherwise.
    bool TakeProof(const std::string& message, std::string* pFingerprint);
    // Closes the cipher handles and wipes the secret key, the keys and the code.
    void Wipe();

private:
    enum State { Idle, Started, Committed, Talking, Dead };

    void Kill();
    bool Agree(const unsigned char peer[SecureCrypto::kKeySize], const std::string& callerGreeting,
        const std::string& calleeGreeting);

    State m_state;
    Role m_role;
    unsigned char m_secret[SecureCrypto::kKeySize]; // wiped once the agreement is done
    unsigned char m_public[SecureCrypto::kKeySize];
    unsigned char m_commit[SecureCrypto::kKeySize]; // the callee's copy of the caller's commitment
    gcry_cipher_handle* m_hSeal; // this side's sending direction
    gcry_cipher_handle* m_hOpen; // the partner's sending direction
    uint64_t m_nSealed; // frames sent so far: the next sending nonce
    uint64_t m_nOpened; // frames accepted so far: the next expected receiving nonce
    std::string m_strCode;
    int m_nVersion; // 2, or 3 once UseVersion3 was called
    std::string m_transcript; // of a version-3 agreement: what each side's identity signs
};
