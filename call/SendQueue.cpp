#include "call/SendQueue.h"

#include <algorithm>

bool CSendQueue::Push(const char* pData, size_t nLength, const SendFn& send, int* pnError)
{
    *pnError = 0;
    if (!Fits(nLength)) return false;
    m_pending.append(pData, nLength);
    *pnError = Flush(send);
    return true;
}

int CSendQueue::Flush(const SendFn& send)
{
    int nError = 0;
    while (m_nSent < m_pending.size()) {
        const int nChunk = (int)std::min<size_t>(m_pending.size() - m_nSent, 64 * 1024);
        int nError1 = 0;
        const int n = send(m_pending.data() + m_nSent, nChunk, &nError1);
        if (n < 0) {
            if (nError1 != m_nWouldBlock) nError = nError1;
            break;
        }
        if (n == 0) break;
        m_nSent += (size_t)std::min(n, nChunk);
    }
    // Drop what has gone out once it is worth the copy, so the buffer stays bounded.
    if (m_nSent == m_pending.size()) {
        m_pending.clear();
        m_nSent = 0;
    } else if (m_nSent >= 64 * 1024) {
        m_pending.erase(0, m_nSent);
        m_nSent = 0;
    }
    return nError;
}
