// Multibyte string and string list, the containers the program keeps its texts in.
// Portable C++ with no Win32 dependency, so the host tests and the fuzzer can use them.
#pragma once

#include <cstddef>
#include <string>

// Byte string in the ANSI code page. Comparisons are byte for byte.
class CString {
public:
    CString() { }
    CString(const char* psz) : m_str(psz ? psz : "") { }
    CString(const char* pch, int nLength) : m_str(pch, nLength > 0 ? (size_t)nLength : 0) { }
    CString(char ch, int nRepeat) : m_str(nRepeat > 0 ? (size_t)nRepeat : 0, ch) { }
    CString(const std::string& s) : m_str(s) { }

    int GetLength() const { return (int)m_str.size(); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    const char* GetString() const { return m_str.c_str(); }
    operator const char*() const { return m_str.c_str(); }
    const std::string& str() const { return m_str; }
    char GetAt(int i) const { return m_str[(size_t)i]; }
    char operator[](int i) const { return m_str[(size_t)i]; }

    // Out-of-range counts are clamped, as the framework's own string does.
    CString Left(int nCount) const;
    CString Right(int nCount) const;
    CString Mid(int nFirst) const;
    CString Mid(int nFirst, int nCount) const;
    int Find(char ch, int nStart = 0) const;
    int Find(const char* psz, int nStart = 0) const;
    int Compare(const char* psz) const;

    CString& operator=(const char* psz)
    {
        m_str = psz ? psz : "";
        return *this;
    }
    CString& operator+=(const CString& s)
    {
        m_str += s.m_str;
        return *this;
    }
    CString& operator+=(const char* psz)
    {
        if (psz) m_str += psz;
        return *this;
    }
    CString& operator+=(char ch)
    {
        m_str += ch;
        return *this;
    }

    // printf-style formatting ("%d", "%s" and the rest of the C library's set).
    void Format(const char* pszFormat, ...)
#ifdef __GNUC__
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    // Writable buffer of at least nMinLength bytes plus the terminator; ReleaseBuffer
    // takes the length from the first zero byte (or nNewLength when given).
    char* GetBuffer(int nMinLength);
    void ReleaseBuffer(int nNewLength = -1);

#ifdef _WIN32
    // Loads a string resource of the running module; FALSE (and empty) when missing.
    int LoadString(unsigned int nID);
#endif

    friend CString operator+(const CString& a, const CString& b) { return CString(a.m_str + b.m_str); }
    friend CString operator+(const CString& a, const char* b) { return CString(a.m_str + (b ? b : "")); }
    friend CString operator+(const char* a, const CString& b) { return CString((a ? a : "") + b.m_str); }
    friend CString operator+(const CString& a, char ch) { return CString(a.m_str + ch); }
    friend CString operator+(char ch, const CString& b) { return CString(std::string(1, ch) + b.m_str); }
    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CString& a, const char* b) { return a.m_str == (b ? b : ""); }
    friend bool operator==(const char* a, const CString& b) { return b == a; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
    friend bool operator!=(const char* a, const CString& b) { return !(b == a); }

private:
    std::string m_str;
};

// Opaque place in a CStringList.
struct __POSITION { };
typedef __POSITION* POSITION;

// Doubly linked list of strings in insertion order, walked with POSITION values.
class CStringList {
public:
    CStringList() { }
    ~CStringList() { RemoveAll(); }
    CStringList(const CStringList&) = delete;
    CStringList& operator=(const CStringList&) = delete;

    int GetCount() const { return m_nCount; }
    bool IsEmpty() const { return m_nCount == 0; }

    POSITION AddTail(const CString& s);
    POSITION AddHead(const CString& s);
    POSITION GetHeadPosition() const { return (POSITION)m_pHead; }
    POSITION GetTailPosition() const { return (POSITION)m_pTail; }
    // Returns the element at pos and moves pos to the next one (NULL after the tail).
    CString& GetNext(POSITION& pos);
    const CString& GetNext(POSITION& pos) const;
    CString& GetAt(POSITION pos);
    const CString& GetAt(POSITION pos) const;
    void SetAt(POSITION pos, const CString& s);
    void RemoveAt(POSITION pos);
    void RemoveAll();
    // Position of the element with the given index from the head; NULL when out of range.
    POSITION FindIndex(int nIndex) const;

private:
    struct Node : __POSITION {
        Node* pNext;
        Node* pPrev;
        CString data;
    };
    Node* m_pHead = nullptr;
    Node* m_pTail = nullptr;
    int m_nCount = 0;
};
