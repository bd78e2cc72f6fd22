// What waits to go out on one connection. A message is taken whole or not at all, and what a
// send could not take now waits, in order, for the next write event: the partner never gets
// half a message, whatever the socket accepts at a time.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

class CSendQueue {
public:
    // Bytes that may wait per connection, including the message being queued.
    static constexpr size_t kMaxQueued = 1024 * 1024;

    // Sends up to nLength bytes; returns how many were taken, or -1 with *pnError set
    // (the would-block code when the socket takes nothing now).
    typedef std::function<int(const char* pData, int nLength, int* pnError)> SendFn;

    explicit CSendQueue(int nWouldBlock) : m_nWouldBlock(nWouldBlock) { }

    // Queues a whole message and sends what the socket takes now. Returns false, with nothing
    // queued or sent, when the message would not fit. *pnError is set to a send error other
    // than would-block (0 when none); the message counts as accepted all the same.
    bool Push(const char* pData, size_t nLength, const SendFn& send, int* pnError);
    // Whether a message of that length would be taken now.
    bool Fits(size_t nLength) const { return nLength <= kMaxQueued && Queued() <= kMaxQueued - nLength; }
    // On a write event: sends what waits. Returns a send error other than would-block, or 0.
    int Flush(const SendFn& send);
    void Clear()
    {
        m_pending.clear();
        m_nSent = 0;
    }

    size_t Queued() const { return m_pending.size() - m_nSent; }
    // The bytes accepted and not yet sent.
    std::string Pending() const { return m_pending.substr(m_nSent); }
    bool Empty() const { return Queued() == 0; }

private:
    int m_nWouldBlock;
    std::string m_pending; // bytes accepted and not yet sent, from m_nSent on
    size_t m_nSent = 0;
};
