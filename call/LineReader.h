// The line protocol spoken between two copies of the program: composing each message and
// turning the bytes received on one connection into messages. No Win32 here, so host tests
// and the fuzzer reach it; the main window applies the results.
#pragma once

#include "platform/afxstr.h"

#include <string>
#include <vector>

// Composed messages, byte for byte as they go on the wire (CR is 0x0D, no line feed).
CString ComposeCalleeGreeting(const CString& strName); // "a1" name CR "A" name
CString ComposeCallerGreeting(const CString& strName); // "i1" name CR "I" name
CString ComposeAnswer(); // "C" CR
CString ComposeBusy(const CString& strName); // "B" name CR
CString ComposeText(const CString& strText); // "S" text CR

// One message taken from the stream, after the greeting rules have been applied.
struct CLineMessage {
    enum Kind {
        Text, // "S": strPayload is the line of text
        CalleeName, // callee greeting to act on: show strPayload, reply with the caller greeting
        CallerName, // caller greeting to act on: store and show strPayload
        Answer, // "C"
        Busy, // "B" (the name is not used)
        KeyCommit, // "H": a caller's commitment to its key for a secure call; strPayload is the whole line
        KeyAnswer, // "k": a callee's key line in reply; strPayload is the whole line
        KeyReveal, // "K": the caller's key line, revealed after the answer; strPayload is the whole line
        Frame, // "E": a sealed message of a secure call; strPayload is the whole line
        Version, // "V": the versions of secure calls a side speaks; strPayload is the whole line
        Other, // a line of no command, an empty line, or a greeting not acted on; ignored outside secure
               // calls
    };
    Kind kind;
    CString strPayload;
};

// Reading state of one connection. Reset it whenever a new connection starts.
class CLineReader {
public:
    // Bytes that may wait for the rest of their line, per connection.
    static const int kMaxPending = 64 * 1024;

    CLineReader() { Reset(); }
    void Reset();

    // Takes the bytes of one read and appends the complete messages to `out`, in order.
    // A zero byte ends the read's text (the rest of that read is dropped). A line that ends
    // with CR is processed; an unterminated tail waits for more bytes when it starts a
    // CR-terminated command ("S", "a", "i", "C", "B", and "H", "k", "K", "E", "V" of secure calls) or is the
    // start of the short greeting that a long one announced; other tails are processed at once. Waiting bytes
    // that would pass kMaxPending are processed at once as one line. Right after a long greeting with name N,
    // exactly "A"+N (or "I"+N) is taken as its short form even when the next message follows it without a
    // break.
    void Feed(const char* pData, int nLength, std::vector<CLineMessage>& out);

    // Bytes waiting for the rest of their line (for tests).
    int PendingBytes() const { return (int)m_pending.size(); }

private:
    void ProcessLine(const std::string& line, std::vector<CLineMessage>& out);
    void KeepOrCut(const std::string& buf, size_t pos, std::vector<CLineMessage>& out);

    std::string m_pending; // unprocessed bytes carried to the next read; never holds a CR
    std::string m_expectedShort; // "A"/"I" + name expected right after a long-form greeting
    bool m_bGreeted; // a long-form greeting has been taken and its short form is still to come
};
