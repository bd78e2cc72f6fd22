// The partners the user has verified: each the fingerprint of the identity it proved when the
// user compared the code with it, with the name it used, where it was reached and when. Kept in
// "Contacts.txt" in the settings folder; the text is composed and read here (no Windows header),
// the file is written by the window side (app/TrustFiles.h).
#pragma once

#include "platform/afxstr.h"

#include <string>
#include <vector>

struct CVerifiedContact {
    std::string strFingerprint; // 64 lowercase hex characters
    CString strName; // the name the partner used
    CString strAddress; // the address it was reached at (the caller's address when it called)
    CString strPort; // the port it was reached at; empty when it called
    CString strWhen; // "2026-12-08 10:30:00", local time
};

class CVerifiedContacts {
public:
    // How a partner nearby, or a call's partner, stands: nobody verified; a verified contact's
    // identity; or another identity under a verified contact's name.
    enum class Trust { Plain, Verified, OtherKey };

    bool IsVerifiedFingerprint(const std::string& strFingerprint) const;
    bool HasVerifiedName(const CString& strName) const;
    // A verified contact reached at exactly this address and port (never for an empty port).
    bool HasVerifiedPlace(const CString& strAddress, const CString& strPort) const;
    // Verified by its fingerprint; OtherKey when the name is a verified contact's but the
    // fingerprint (empty when none was proved) is not; a name alone never makes Verified.
    Trust Classify(const std::string& strFingerprint, const CString& strName) const;

    // Adds a contact, replacing one with the same fingerprint; false for a malformed fingerprint.
    bool Add(const CVerifiedContact& contact);
    // Takes the verification of a fingerprint back; false when there was none.
    bool Remove(const std::string& strFingerprint);
    const std::vector<CVerifiedContact>& All() const { return m_contacts; }

    // The file's text: a header line, then one line per contact, fields separated by tabs
    // (fingerprint, when, port, address, name; backslash, tab, CR and LF escaped), each line
    // ending in CRLF.
    std::string Format() const;
    // Reads the text back. Damage costs only what it touches: a line without its line end (a
    // write cut short), a malformed fingerprint or a wrong number of fields is skipped; the rest
    // is taken. A text without the header line is taken as no contacts.
    void Parse(const std::string& text);

    static bool IsFingerprint(const std::string& s);

private:
    std::vector<CVerifiedContact> m_contacts;
};
