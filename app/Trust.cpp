#include "app/Trust.h"

#include <wincrypt.h>

#include <algorithm>
#include <string>

namespace {

const char kDamaged[] =
    "本人確認の鍵のファイル (Identity.key) が壊れているか、読めなかったため、新しい鍵を作りました。"
    "確認済みにしてくれた相手には、鍵が変わったと表示されます。もう一度、番号を読み合わせてもらってください。"
    "元のファイルは ";
const char kDamagedEnd[] = " として残しました。";
const char kNotSaved[] = "本人確認の鍵を保存できなかったため、次に起動したときには別の鍵になります。";
const char kNoIdentity[] = "本人確認の鍵を作れませんでした。相手には本人確認なしと表示されます。";

// The secret key protected for the current Windows user; false where the system offers none.
bool Protect(const unsigned char* p, size_t n, std::string* pBlob)
{
    DATA_BLOB in = { (DWORD)n, const_cast<BYTE*>(p) };
    DATA_BLOB out = {};
    if (!::CryptProtectData(&in, L"Kelvaro identity", NULL, NULL, NULL, CRYPTPROTECT_UI_FORBIDDEN, &out))
        return false;
    pBlob->assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
    ::LocalFree(out.pbData);
    return true;
}

bool Unprotect(const std::string& blob, std::string* pSecret)
{
    DATA_BLOB in = { (DWORD)blob.size(), reinterpret_cast<BYTE*>(const_cast<char*>(blob.data())) };
    DATA_BLOB out = {};
    if (!::CryptUnprotectData(&in, NULL, NULL, NULL, NULL, CRYPTPROTECT_UI_FORBIDDEN, &out)) return false;
    pSecret->assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
    SecureCrypto::Wipe(out.pbData, out.cbData);
    ::LocalFree(out.pbData);
    return true;
}

} // namespace

void CTrust::Load(const CString& strFolder, CString* pstrNotice)
{
    m_strFolder = strFolder;
    pstrNotice->Empty();
    LoadIdentity(pstrNotice);
    std::string text;
    m_contacts.Parse(ReadFileWhole(ContactsPath(), &text) ? text : std::string());
}

void CTrust::LoadIdentity(CString* pstrNotice)
{
    const CString strPath = IdentityPath();
    std::string text, blob, secret;
    unsigned char pub[SecureCrypto::kKeySize];
    bool bProtected = false;
    if (ReadFileWhole(strPath, &text)) {
        bool bOk = ParseIdentityFile(text, pub, &bProtected, &blob);
        if (bOk && bProtected)
            bOk = Unprotect(blob, &secret);
        else
            secret.swap(blob);
        // The secret key must give the public key written beside it: that catches a changed byte.
        bOk = bOk && secret.size() == SecureCrypto::kKeySize &&
            m_identity.SetSecret(reinterpret_cast<const unsigned char*>(secret.data())) &&
            std::equal(pub, pub + sizeof pub, m_identity.PublicKey());
        SecureCrypto::Wipe(&secret[0], secret.size());
        if (bOk) return;
        // Never replaced in silence: the damaged file goes aside under a name of its own.
        CString strAside;
        for (int i = 1; i < 100; ++i) {
            strAside = strPath + ".damaged" + CString(i == 1 ? std::string() : std::to_string(i));
            if (::MoveFileExA(strPath, strAside, 0)) break;
            strAside.Empty();
        }
        *pstrNotice = CString(kDamaged) + (strAside.IsEmpty() ? strPath : strAside) + kDamagedEnd;
    } else if (::GetFileAttributesA(strPath) != INVALID_FILE_ATTRIBUTES) {
        *pstrNotice = CString(kDamaged) + strPath + kDamagedEnd; // there, but it cannot be read
    }
    if (!m_identity.Generate()) {
        *pstrNotice = kNoIdentity;
        return;
    }
    const bool bProtect = Protect(m_identity.SecretKey(), SecureCrypto::kKeySize, &blob);
    const std::string file = FormatIdentityFile(m_identity.PublicKey(), bProtect,
        bProtect
            ? blob
            : std::string(reinterpret_cast<const char*>(m_identity.SecretKey()), SecureCrypto::kKeySize));
    // An unreadable file still there is not overwritten: the new key lives for this run.
    const bool bStillThere = ::GetFileAttributesA(strPath) != INVALID_FILE_ATTRIBUTES;
    if (bStillThere || !WriteFileWhole(strPath, file))
        *pstrNotice = pstrNotice->IsEmpty() ? CString(kNotSaved) : *pstrNotice + "\r\n" + kNotSaved;
}

BOOL CTrust::Verify(const CVerifiedContact& contact)
{
    m_contacts.Add(contact);
    return WriteFileWhole(ContactsPath(), m_contacts.Format());
}

BOOL CTrust::Unverify(const std::string& strFingerprint)
{
    m_contacts.Remove(strFingerprint);
    return WriteFileWhole(ContactsPath(), m_contacts.Format());
}
