// Two call cores joined by one connection, the caller's outgoing to the callee's incoming: what
// either sends reaches the other, through a change a test may make on the way. The test file
// says what a side keeps of its effects, in a TakeEffect(Side&, const CCallEffect&) of its own.
#pragma once

#include "call/CallCore.h"

#include <functional>
#include <string>

template <class TSide> struct CorePair {
    TSide caller, callee;
    std::string wire; // everything that went either way, for checks
    std::string toCalleeWire; // what went to the callee
    std::function<void(std::string&)> toCallee = [](std::string&) {};
    std::function<void(std::string&)> toCaller = [](std::string&) {};

    CorePair() = default;
    template <class TArg>
    CorePair(const TArg& forCaller, const TArg& forCallee) : caller(forCaller), callee(forCallee)
    {
    }

    void Carry(TSide& from, CallConn fromConn, TSide& to, CallConn toConn, bool bToCallee)
    {
        std::string bytes;
        from.core.Flush(fromConn, [&](const char* p, int n, int*) {
            bytes.append(p, (size_t)n);
            return n;
        });
        from.core.Flushed(fromConn, 0);
        (bToCallee ? toCallee : toCaller)(bytes);
        wire += bytes;
        if (bToCallee) toCalleeWire += bytes;
        if (!bytes.empty())
            to.core.Received(toConn, bytes.data(), (int)bytes.size(), &to == &caller ? "north" : "south");
    }
    void Take(TSide& s)
    {
        for (const CCallEffect& e : s.core.TakeEffects()) TakeEffect(s, e);
        s.look = s.core.Look();
    }
    // Lets the bytes go back and forth until nothing waits.
    void Settle()
    {
        for (int i = 0; i < 8; ++i) {
            Carry(caller, CallConn::Out, callee, CallConn::In, true);
            Carry(callee, CallConn::In, caller, CallConn::Out, false);
        }
        Take(caller), Take(callee);
    }
    // A call placed, taken, greeted and answered.
    void Talk()
    {
        caller.core.PressCall("127.0.0.1", "5000");
        caller.core.Connected(0, "127.0.0.1");
        callee.core.ConnectionWaiting();
        callee.core.Accepted(CallConn::In, "127.0.0.1", "south");
        Settle();
        callee.core.PressAnswer();
        Settle();
    }
};
