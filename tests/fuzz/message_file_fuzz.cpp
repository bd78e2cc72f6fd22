// Fuzz target for the answering machine's file reader. Any bytes, as a damaged or half-written
// Messages.txt might hold them. Checks:
//  - written again, the file is byte for byte what was read: nothing is dropped, damaged or not;
//  - what is read from that is the same again;
//  - no message line holds a CR, an LF or a tab, and every header field reads back as it was.
#include "app/MessageFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes((const char*)data, size);
    const CMessageFile file = ParseMessageFile(bytes);
    const std::string written = FormatMessageFile(file);
    if (written != bytes) std::abort();
    const CMessageFile again = ParseMessageFile(written);
    if (again.messages.size() != file.messages.size() || again.nDamagedLines != file.nDamagedLines ||
        again.strLeading != file.strLeading)
        std::abort();
    for (size_t i = 0; i < file.messages.size(); ++i) {
        const CStoredMessage& m = file.messages[i];
        if (!(again.messages[i] == m)) std::abort();
        for (const CString& line : m.lines)
            if (line.str().find_first_of("\r\n\t") != std::string::npos) std::abort();
        if (ParseMessageFile(FormatMessageHeader(m)).messages.size() != 1) std::abort();
    }
    return 0;
}
