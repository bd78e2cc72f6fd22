// Fuzz target for one connection's sending queue. The input scripts, byte by byte, both what
// the user does (send a message of some size, a write event, the connection ending) and what
// the socket does on each send call (take some bytes, take none, would block, fail). Checks:
//  - a message is refused exactly when it would not fit under kMaxQueued, and a refused one
//    neither sends nor queues anything;
//  - every byte the socket takes is the next byte of the accepted messages, in order;
//  - Queued() is what was accepted and not yet taken, and never above kMaxQueued;
//  - the queue stops sending only when the socket stopped taking, and reports a hard error
//    exactly when the socket's last answer was one;
//  - at the end, with a socket that takes everything, one write event sends the rest: the wire
//    then holds exactly the accepted messages, never half of one.
#include "tests/fuzz/fuzz_util.h"
#include "call/SendQueue.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

const int kWouldBlock = 10035;
const int kReset = 10054;
const size_t kMax = CSendQueue::kMaxQueued;
// Message bytes made per run, so that one input stays quick.
const size_t kMaxTotal = 3 * kMax;

struct Fake {
    Input* in = nullptr;
    std::string expect; // accepted bytes of the current connection, in order
    size_t nTaken = 0; // how many of them the socket took
    int nCalls = 0;
    int nLast = 1; // the last send call's result
    int nLastError = 0;
    bool bDrain = false; // take everything asked (the final write event)

    void Reset(Input* pIn)
    {
        in = pIn;
        expect.clear(); // keeps its capacity
        nTaken = 0;
        nCalls = 0;
        nLast = 1;
        nLastError = 0;
        bDrain = false;
    }

    int Send(const char* pData, int nLength, int* pnError)
    {
        CHECK(nLength > 0);
        CHECK((size_t)nLength <= expect.size() - nTaken);
        ++nCalls;
        nLastError = 0;
        int take = nLength;
        if (!bDrain && !in->Empty()) {
            const uint8_t b = in->Byte();
            switch (b % 8) {
            case 0:
                nLast = -1;
                nLastError = *pnError = kWouldBlock;
                return -1;
            case 1:
                nLast = -1;
                nLastError = *pnError = kReset;
                return -1;
            case 2:
                nLast = 0;
                return 0;
            case 3:
                take = 1;
                break;
            case 4:
                take = 1 + (b >> 3) % 16;
                break;
            case 5:
                take = 1 + (int)(in->U16() % 8192);
                break;
            case 6:
                take = nLength / 2 + 1;
                break;
            default:
                break; // all of it
            }
            if (take > nLength) take = nLength;
        }
        CHECK(memcmp(pData, expect.data() + nTaken, (size_t)take) == 0);
        nTaken += (size_t)take;
        nLast = take;
        return take;
    }
};

// Message number `serial` of `length` bytes, composed as a text line is: "S" ... CR, with
// letters that start where the serial says, so that swapped messages differ.
void AppendMessage(std::string& out, size_t serial, size_t length)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyz";
    const size_t at = out.size();
    out.reserve(at + length);
    for (size_t j = 0; j < length; j += 26)
        out.append(kLetters + serial % 26, std::min<size_t>(26, length - j));
    if (length) out[at] = 'S';
    if (length > 1) out[at + length - 1] = '\r';
}

// A message size from the input: mostly short, sometimes across the 64 KiB send chunk, or
// right at, just under or past what still fits.
size_t MessageSize(Input& in, size_t nQueued)
{
    const uint8_t sel = in.Byte();
    switch (sel % 8) {
    case 0:
        return sel >> 3;
    case 1:
    case 2:
        return in.Byte();
    case 3:
        return in.U16();
    case 4:
        return 60 * 1024 + in.U16() % 8192;
    case 5: { // around the room left
        const long n = (long)(kMax - nQueued) + (sel >> 3) % 5 - 2;
        return n > 0 ? (size_t)n : 0;
    }
    case 6:
        return kMax + (sel >> 3) % 3 - 1; // around the bound itself
    default:
        return (size_t)in.U16() * 32; // up to 2 MiB
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in = { data, size };
    // Kept from run to run: large buffers made afresh each time cost more than the run.
    static Fake sock;
    static std::string msg;
    sock.Reset(&in);
    const CSendQueue::SendFn send = [](const char* p, int n, int* pErr) { return sock.Send(p, n, pErr); };
    CSendQueue q(kWouldBlock);
    size_t nSerial = 0, nTotal = 0;

    while (!in.Empty()) {
        const uint8_t op = in.Byte();
        const size_t nQueuedBefore = q.Queued();
        sock.nCalls = 0;
        int nError = 0;
        bool bRefused = false;
        switch (op % 8) {
        case 0:
        case 1:
        case 2:
        case 3: { // the user sends a line
            size_t nLength = MessageSize(in, nQueuedBefore);
            if (nTotal + nLength > kMaxTotal) nLength = op >> 3;
            nTotal += nLength;
            msg.clear();
            AppendMessage(msg, nSerial++, nLength);
            const size_t nExpectBefore = sock.expect.size();
            const bool bFits = nLength <= kMax && nQueuedBefore + nLength <= kMax;
            // Offered as accepted beforehand, so the fake can check every byte it is given.
            if (bFits) sock.expect += msg;
            const bool bAccepted = q.Push(msg.data(), msg.size(), send, &nError);
            CHECK(bAccepted == bFits);
            if (!bAccepted) {
                bRefused = true;
                CHECK(sock.nCalls == 0);
                CHECK(nError == 0);
                CHECK(q.Queued() == nQueuedBefore);
                CHECK(sock.expect.size() == nExpectBefore);
            }
            break;
        }
        case 4:
        case 5:
        case 6: // a write event
            nError = q.Flush(send);
            break;
        default: // the connection ends; the next one starts empty
            q.Clear();
            CHECK(q.Empty());
            sock.expect.clear();
            sock.nTaken = 0;
            continue;
        }
        CHECK(q.Queued() <= kMax);
        CHECK(q.Queued() == sock.expect.size() - sock.nTaken);
        CHECK(q.Empty() == (q.Queued() == 0));
        // A hard error is reported exactly when the socket's last answer was one.
        CHECK(nError == (sock.nCalls > 0 && sock.nLastError == kReset ? kReset : 0));
        // What still waits after a send waits only because the socket stopped taking.
        if (!q.Empty() && !bRefused) CHECK(sock.nCalls > 0 && sock.nLast <= 0);
    }

    // The partner reads again: one write event sends all that waits, as whole messages.
    sock.bDrain = true;
    sock.nCalls = 0;
    CHECK(q.Flush(send) == 0);
    CHECK(q.Empty());
    CHECK(sock.nTaken == sock.expect.size());
    return 0;
}
