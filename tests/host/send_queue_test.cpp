// The sending queue: whole messages in order, whatever the socket takes at a time.
#include "call/SendQueue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const int kWouldBlock = 10035;

// A socket that takes at most `room` bytes until it is given more, then blocks.
struct FakeSocket {
    std::string wire;
    size_t room = 0;
    int error = 0; // a hard error to report instead of blocking
    CSendQueue::SendFn Fn()
    {
        return [this](const char* p, int n, int* pErr) {
            if (error) {
                *pErr = error;
                return -1;
            }
            if (room == 0) {
                *pErr = kWouldBlock;
                return -1;
            }
            int take = (int)std::min<size_t>(room, (size_t)n);
            wire.append(p, (size_t)take);
            room -= (size_t)take;
            return take;
        };
    }
};

TEST(SendQueue, WhatTheSocketCannotTakeWaitsInOrderForWriteEvents)
{
    FakeSocket sock;
    CSendQueue q(kWouldBlock);
    int err = -1;
    sock.room = 3;
    ASSERT_TRUE(q.Push("Shello\r", 7, sock.Fn(), &err));
    EXPECT_EQ(err, 0) << "would-block is no error";
    ASSERT_TRUE(q.Push("Sworld\r", 7, sock.Fn(), &err));
    EXPECT_EQ(sock.wire, "She");
    EXPECT_EQ(q.Queued(), 11u);
    sock.room = 5;
    EXPECT_EQ(q.Flush(sock.Fn()), 0);
    EXPECT_EQ(sock.wire, "Shello\rS");
    sock.room = 100;
    EXPECT_EQ(q.Flush(sock.Fn()), 0);
    EXPECT_EQ(sock.wire, "Shello\rSworld\r");
    EXPECT_TRUE(q.Empty());
}

TEST(SendQueue, AMessageThatDoesNotFitIsNeitherQueuedNorSent)
{
    FakeSocket sock; // never takes anything
    CSendQueue q(kWouldBlock);
    int err = 0;
    const std::string big(CSendQueue::kMaxQueued - 10, 'x');
    ASSERT_TRUE(q.Push(big.data(), big.size(), sock.Fn(), &err));
    EXPECT_FALSE(q.Push("S0123456789\r", 12, sock.Fn(), &err)) << "12 bytes more pass the bound";
    EXPECT_EQ(q.Queued(), big.size());
    EXPECT_TRUE(q.Push("S012345678", 10, sock.Fn(), &err)) << "exactly up to the bound fits";
    const std::string huge(CSendQueue::kMaxQueued + 1, 'y');
    CSendQueue empty(kWouldBlock);
    EXPECT_FALSE(empty.Push(huge.data(), huge.size(), sock.Fn(), &err)) << "larger than the bound on its own";
    EXPECT_TRUE(sock.wire.empty());
}

TEST(SendQueue, AHardErrorIsReportedAndTheMessageStillCounts)
{
    FakeSocket sock;
    sock.error = 10054;
    CSendQueue q(kWouldBlock);
    int err = 0;
    EXPECT_TRUE(q.Push("Sx\r", 3, sock.Fn(), &err));
    EXPECT_EQ(err, 10054);
    EXPECT_EQ(q.Flush(sock.Fn()), 10054);
    q.Clear();
    EXPECT_TRUE(q.Empty());
}

} // namespace
