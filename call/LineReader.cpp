#include "call/LineReader.h"

#include <algorithm>
#include <cstring>

namespace {

const char kCR = '\r';

// Commands whose line ends with CR: an unterminated one is still on its way. The short
// greetings "A" and "I" never carry a CR, so a tail starting with them cannot wait for one.
bool EndsWithCR(char chCommand)
{
    return chCommand == 'S' || chCommand == 'a' || chCommand == 'i' || chCommand == 'C' || chCommand == 'B' ||
        chCommand == 'H' || chCommand == 'K' || chCommand == 'k' || chCommand == 'E' || chCommand == 'V';
}

void Emit(std::vector<CLineMessage>& out, CLineMessage::Kind kind, const std::string& payload)
{
    CLineMessage msg;
    msg.kind = kind;
    msg.strPayload = CString(payload);
    out.push_back(msg);
}

} // namespace

CString ComposeCalleeGreeting(const CString& strName) { return "a1" + strName + kCR + "A" + strName; }

CString ComposeCallerGreeting(const CString& strName) { return "i1" + strName + kCR + "I" + strName; }

CString ComposeAnswer() { return CString("C") + kCR; }

CString ComposeBusy(const CString& strName) { return "B" + strName + kCR; }

CString ComposeText(const CString& strText) { return "S" + strText + kCR; }

void CLineReader::Reset()
{
    m_bGreeted = false;
    m_pending.clear();
    m_expectedShort.clear();
}

void CLineReader::Feed(const char* pData, int nLength, std::vector<CLineMessage>& out)
{
    if (!pData || nLength <= 0) return;

    // A zero byte ends the text of this read; whatever follows it in the same read is dropped.
    size_t nText = (size_t)nLength;
    if (const void* pZero = std::memchr(pData, 0, nText)) nText = (size_t)((const char*)pZero - pData);

    std::string buf;
    buf.swap(m_pending);
    const size_t nNoCR = buf.size(); // the carried bytes hold no CR: search after them
    buf.append(pData, nText);

    size_t pos = 0;
    while (pos < buf.size()) {
        const size_t nAvail = buf.size() - pos;

        // Right after a long greeting: its short form has no CR of its own, so take exactly
        // the bytes it must be and read whatever follows as the next message.
        if (!m_expectedShort.empty()) {
            const size_t nCmp = std::min(nAvail, m_expectedShort.size());
            if (buf.compare(pos, nCmp, m_expectedShort, 0, nCmp) == 0) {
                if (nAvail < m_expectedShort.size()) {
                    KeepOrCut(buf, pos, out); // the read ended inside it
                    return;
                }
                // The short form of the greeting just taken: skipped, and the wait is over.
                pos += m_expectedShort.size();
                m_expectedShort.clear();
                m_bGreeted = false;
                continue;
            }
            m_expectedShort.clear(); // something else came: ordinary rules from here
        }

        const size_t cr = buf.find(kCR, std::max(pos, nNoCR));
        if (cr != std::string::npos) {
            ProcessLine(buf.substr(pos, cr - pos), out);
            pos = cr + 1;
            continue;
        }

        // Unterminated tail.
        if (EndsWithCR(buf[pos])) {
            KeepOrCut(buf, pos, out);
        } else {
            ProcessLine(buf.substr(pos), out);
        }
        return;
    }
}

// Keeps buf[pos..] for the next read, unless that would pass the bound: then the bytes are
// processed as one line now, as if they had been the whole of a read.
void CLineReader::KeepOrCut(const std::string& buf, size_t pos, std::vector<CLineMessage>& out)
{
    if (buf.size() - pos > (size_t)kMaxPending) {
        ProcessLine(buf.substr(pos), out);
    } else {
        m_pending.assign(buf, pos, std::string::npos);
    }
}

void CLineReader::ProcessLine(const std::string& line, std::vector<CLineMessage>& out)
{
    // An expected short form must come right after its long form; any line ends the wait.
    m_expectedShort.clear();
    // An empty line means nothing in a plain call; a secure call refuses it like any other.
    if (line.empty()) return Emit(out, CLineMessage::Other, line);

    switch (line[0]) {
    case 'S':
        Emit(out, CLineMessage::Text, line.substr(1));
        break;
    case 'a':
    case 'i': {
        // The long form loses its first two bytes whatever the second one is.
        const std::string name = line.size() > 2 ? line.substr(2) : std::string();
        // A second long form before its short form is not acted on; a secure call refuses it.
        Emit(out,
            m_bGreeted           ? CLineMessage::Other
                : line[0] == 'a' ? CLineMessage::CalleeName
                                 : CLineMessage::CallerName,
            name);
        m_bGreeted = true;
        m_expectedShort = (line[0] == 'a' ? "A" : "I") + name;
        break;
    }
    case 'A':
    case 'I':
        // A short form that no long form announced is acted on; one that is not the announced
        // one is not, but is passed on, so that a secure call refuses it like any plain line.
        Emit(out,
            m_bGreeted           ? CLineMessage::Other
                : line[0] == 'A' ? CLineMessage::CalleeName
                                 : CLineMessage::CallerName,
            m_bGreeted ? std::string() : line.substr(1));
        m_bGreeted = false;
        break;
    case 'C':
        Emit(out, CLineMessage::Answer, std::string());
        break;
    case 'B':
        Emit(out, CLineMessage::Busy, std::string()); // the busy side's name is not shown
        break;
    case 'H':
        Emit(out, CLineMessage::KeyCommit, line);
        break;
    case 'K':
        Emit(out, CLineMessage::KeyReveal, line);
        break;
    case 'k':
        Emit(out, CLineMessage::KeyAnswer, line);
        break;
    case 'E':
        Emit(out, CLineMessage::Frame, line);
        break;
    case 'V':
        Emit(out, CLineMessage::Version, line);
        break;
    default:
        // An unknown command or a double-byte character's lead byte.
        Emit(out, CLineMessage::Other, std::string());
        break;
    }
}
