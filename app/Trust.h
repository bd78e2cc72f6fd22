// This copy's identity and the partners the user has verified, with their files in the settings
// folder: "Identity.key" (the secret key protected for the current Windows user where the system
// offers it) and "Contacts.txt" (written whole to a file beside it, which then takes its place).
#pragma once

#include "call/Identity.h"
#include "call/VerifiedContacts.h"
#include "app/FileText.h"
#include "platform/afxwin.h"

class CTrust {
public:
    // Reads or makes the identity and reads the contacts. A damaged or unreadable identity file
    // is kept aside and a new identity made; *pstrNotice then says so (and any other trouble
    // the user should hear of), empty when there is nothing to tell.
    void Load(const CString& strFolder, CString* pstrNotice);

    const CIdentity& Identity() const { return m_identity; }
    const CVerifiedContacts& Contacts() const { return m_contacts; }
    // Adds or removes a contact and writes the file at once; FALSE with the system's error in
    // the last-error value when it could not be written (the change holds for this run).
    BOOL Verify(const CVerifiedContact& contact);
    BOOL Unverify(const std::string& strFingerprint);

    CString ContactsPath() const { return m_strFolder + "Contacts.txt"; }
    CString IdentityPath() const { return m_strFolder + "Identity.key"; }

private:
    void LoadIdentity(CString* pstrNotice);

    CString m_strFolder;
    CIdentity m_identity;
    CVerifiedContacts m_contacts;
};
