// What a line reader's state means, read through its public interface (host tests, fuzzer).
#pragma once

#include "call/LineReader.h"

// Whether the reader awaits the short form of a long greeting: then a lone short greeting names
// nobody. Asked of a copy, once a CR has ended any line still waiting.
inline bool AwaitsShortForm(CLineReader r)
{
    std::vector<CLineMessage> out;
    if (r.PendingBytes() > 0) r.Feed("\r", 1, out);
    out.clear();
    r.Feed("A\r", 2, out);
    return out.size() == 1 && out[0].kind == CLineMessage::Other;
}
