#include "phonebook/PhonebookEntries.h"

const CPhonebookEntry* CPhonebookEntries::At(int nIndex) const
{
    if (nIndex < 0 || nIndex >= GetCount()) return nullptr;
    return &m_entries[(size_t)nIndex];
}

bool CPhonebookEntries::Register(const CPhonebookEntry& entry)
{
    for (CPhonebookEntry& e : m_entries) {
        if (e.strName == entry.strName) {
            e.strAddress = entry.strAddress;
            e.strPort = entry.strPort;
            return false;
        }
    }
    m_entries.push_back(entry);
    return true;
}

bool CPhonebookEntries::RemoveAt(int nIndex)
{
    if (!At(nIndex)) return false;
    m_entries.erase(m_entries.begin() + nIndex);
    return true;
}

CString CPhonebookEntries::PortOf(const CString& strAddress) const
{
    for (const CPhonebookEntry& e : m_entries)
        if (e.strAddress == strAddress) return e.strPort;
    return CString();
}
