// What the identity proof adds to a call start, on the host: one side's version-3 agreement with
// its proof made and the partner's checked, against a version-2 agreement. Not part of make test:
//   g++ -O2 -std=c++17 -I. tests/bench/identity_bench.cpp call/SecureCrypto.cpp call/SecureChannel.cpp \
//       call/Identity.cpp -lgcrypt -o build/identity_bench && build/identity_bench
#include "call/Identity.h"
#include "call/SecureChannel.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

namespace {

const std::string kCaller = "i1north\rInorth", kCallee = "a1south\rAsouth";

// One call's agreement on both sides; with bV3, each side also proves its identity and checks
// the other's. Returns false on any failure.
bool Agree(bool bV3, const CIdentity& north, const CIdentity& south)
{
    CSecureChannel caller, callee;
    if (!caller.Start(CSecureChannel::Caller) || !callee.Start(CSecureChannel::Callee)) return false;
    if (bV3) caller.UseVersion3(), callee.UseVersion3();
    std::string commit = caller.CommitLine(), answer = callee.KeyLine();
    commit.pop_back(), answer.pop_back();
    if (!callee.TakeCommit(commit) || !caller.Complete(answer, kCaller, kCallee)) return false;
    std::string reveal = caller.KeyLine();
    reveal.pop_back();
    if (!callee.Complete(reveal, kCaller, kCallee)) return false;
    if (!bV3) return true;
    std::string fp1, fp2;
    return callee.TakeProof(caller.ProofMessage(north), &fp1) &&
        caller.TakeProof(callee.ProofMessage(south), &fp2);
}

struct Cost {
    double wall, cpu; // ms per call start: elapsed, and this process's processor time
};

// Processor time as well as elapsed time: on a shared machine the elapsed time also holds the
// time other processes ran.
Cost MsPerCall(bool bV3, const CIdentity& north, const CIdentity& south, int n)
{
    const auto t0 = std::chrono::steady_clock::now();
    const std::clock_t c0 = std::clock();
    for (int i = 0; i < n; ++i)
        if (!Agree(bV3, north, south)) return { -1, -1 };
    return { std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / n,
        1000.0 * (double)(std::clock() - c0) / CLOCKS_PER_SEC / n };
}

} // namespace

int main()
{
    CIdentity north, south;
    if (!north.Generate() || !south.Generate()) return 1;
    const int n = 200;
    const Cost v2 = MsPerCall(false, north, south, n), v3 = MsPerCall(true, north, south, n);
    std::printf(
        "both sides of one call start, mean of %d: version 2 %.2f ms (processor %.2f), version 3 %.2f ms "
        "(processor %.2f)\n",
        n, v2.wall, v2.cpu, v3.wall, v3.cpu);
    std::printf("the identity proof adds per side: %.2f ms elapsed, %.2f ms of processor time\n",
        (v3.wall - v2.wall) / 2, (v3.cpu - v2.cpu) / 2);
    return v2.wall < 0 || v3.wall < 0;
}
