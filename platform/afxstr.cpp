#include "platform/afxstr.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

CString CString::Left(int nCount) const
{
    if (nCount < 0) nCount = 0;
    if (nCount >= GetLength()) return *this;
    return CString(m_str.substr(0, (size_t)nCount));
}

CString CString::Right(int nCount) const
{
    if (nCount < 0) nCount = 0;
    if (nCount >= GetLength()) return *this;
    return CString(m_str.substr(m_str.size() - (size_t)nCount));
}

CString CString::Mid(int nFirst) const { return Mid(nFirst, GetLength() - (nFirst < 0 ? 0 : nFirst)); }

CString CString::Mid(int nFirst, int nCount) const
{
    if (nFirst < 0) nFirst = 0;
    if (nCount < 0) nCount = 0;
    if (nFirst >= GetLength()) return CString();
    if (nCount > GetLength() - nFirst) nCount = GetLength() - nFirst;
    return CString(m_str.substr((size_t)nFirst, (size_t)nCount));
}

int CString::Find(char ch, int nStart) const
{
    if (nStart < 0 || nStart >= GetLength()) return -1;
    size_t at = m_str.find(ch, (size_t)nStart);
    return at == std::string::npos ? -1 : (int)at;
}

int CString::Find(const char* psz, int nStart) const
{
    if (!psz || nStart < 0 || nStart > GetLength()) return -1;
    size_t at = m_str.find(psz, (size_t)nStart);
    return at == std::string::npos ? -1 : (int)at;
}

int CString::Compare(const char* psz) const
{
    int r = std::strcmp(m_str.c_str(), psz ? psz : "");
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

void CString::Format(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, pszFormat, copy);
    va_end(copy);
    if (n < 0) {
        m_str.clear();
    } else {
        std::string out((size_t)n + 1, '\0');
        std::vsnprintf(&out[0], out.size(), pszFormat, args);
        out.resize((size_t)n);
        m_str.swap(out);
    }
    va_end(args);
}

char* CString::GetBuffer(int nMinLength)
{
    if (nMinLength > GetLength()) m_str.resize((size_t)nMinLength, '\0');
    return &m_str[0];
}

void CString::ReleaseBuffer(int nNewLength)
{
    if (nNewLength < 0) nNewLength = (int)std::strlen(m_str.c_str());
    if (nNewLength > GetLength()) nNewLength = GetLength();
    m_str.resize((size_t)nNewLength);
}

POSITION CStringList::AddTail(const CString& s)
{
    Node* p = new Node;
    p->data = s;
    p->pNext = nullptr;
    p->pPrev = m_pTail;
    if (m_pTail)
        m_pTail->pNext = p;
    else
        m_pHead = p;
    m_pTail = p;
    ++m_nCount;
    return (POSITION)p;
}

POSITION CStringList::AddHead(const CString& s)
{
    Node* p = new Node;
    p->data = s;
    p->pPrev = nullptr;
    p->pNext = m_pHead;
    if (m_pHead)
        m_pHead->pPrev = p;
    else
        m_pTail = p;
    m_pHead = p;
    ++m_nCount;
    return (POSITION)p;
}

CString& CStringList::GetNext(POSITION& pos)
{
    Node* p = static_cast<Node*>(pos);
    pos = (POSITION)p->pNext;
    return p->data;
}

const CString& CStringList::GetNext(POSITION& pos) const
{
    const Node* p = static_cast<const Node*>(pos);
    pos = (POSITION)p->pNext;
    return p->data;
}

CString& CStringList::GetAt(POSITION pos) { return static_cast<Node*>(pos)->data; }
const CString& CStringList::GetAt(POSITION pos) const { return static_cast<const Node*>(pos)->data; }
void CStringList::SetAt(POSITION pos, const CString& s) { static_cast<Node*>(pos)->data = s; }

void CStringList::RemoveAt(POSITION pos)
{
    Node* p = static_cast<Node*>(pos);
    if (p->pPrev)
        p->pPrev->pNext = p->pNext;
    else
        m_pHead = p->pNext;
    if (p->pNext)
        p->pNext->pPrev = p->pPrev;
    else
        m_pTail = p->pPrev;
    delete p;
    --m_nCount;
}

void CStringList::RemoveAll()
{
    Node* p = m_pHead;
    while (p) {
        Node* next = p->pNext;
        delete p;
        p = next;
    }
    m_pHead = m_pTail = nullptr;
    m_nCount = 0;
}

POSITION CStringList::FindIndex(int nIndex) const
{
    if (nIndex < 0 || nIndex >= m_nCount) return nullptr;
    Node* p = m_pHead;
    while (nIndex-- > 0) p = p->pNext;
    return (POSITION)p;
}
