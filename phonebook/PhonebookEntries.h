// The phonebook's entries: a name with the address and port it calls, in the order of the
// combo box (the first entry is the combo's item 1).
#pragma once

#include "platform/afxstr.h"

#include <vector>

struct CPhonebookEntry {
    CString strName;
    CString strAddress;
    CString strPort;
};

class CPhonebookEntries {
public:
    int GetCount() const { return (int)m_entries.size(); }
    // The entry at a zero-based index; null outside the book.
    const CPhonebookEntry* At(int nIndex) const;
    const std::vector<CPhonebookEntry>& All() const { return m_entries; }

    void RemoveAll() { m_entries.clear(); }
    void Add(const CPhonebookEntry& entry) { m_entries.push_back(entry); }
    // An entry of the same name (byte for byte) takes the new address and port; otherwise the
    // entry is added at the end. True when it was added.
    bool Register(const CPhonebookEntry& entry);
    // False when there is no entry at the index.
    bool RemoveAt(int nIndex);
    // The port of the first entry with the address; empty when none has it.
    CString PortOf(const CString& strAddress) const;

private:
    std::vector<CPhonebookEntry> m_entries;
};
