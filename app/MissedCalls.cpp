// The file holds one Shift-JIS line per call, newest first, its fields separated by tabs:
// time, kind ("unanswered", "busy", "dnd"), address, name. Address and name are escaped as in
// the conversation log, so no tab or line break of a name can split a record.
#include "app/MissedCalls.h"
#include "app/FileText.h"
#include "app/TabFields.h"

#include "app/ConversationLog.h"

namespace {

const char* const kKindKeys[] = { "unanswered", "busy", "dnd" };

} // namespace

CString MissedCallTime(const SYSTEMTIME& st)
{
    CString s;
    s.Format("%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
    return s;
}

const char* MissedCallKindText(CMissedCall::Kind kind)
{
    switch (kind) {
    case CMissedCall::Busy:
        return "話し中";
    case CMissedCall::DoNotDisturb:
        return "応答しない";
    default:
        return "不在";
    }
}

void CMissedCalls::Add(const CMissedCall& call)
{
    m_calls.insert(m_calls.begin(), call);
    if ((int)m_calls.size() > kMax) m_calls.resize(kMax);
}

void CMissedCalls::Load(const CString& strPath)
{
    m_calls.clear();
    std::string text;
    if (!ReadFileWhole(strPath, &text)) return;

    size_t pos = 0;
    while (pos < text.size() && (int)m_calls.size() < kMax) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        const std::vector<std::string> f = TabFields(text.substr(pos, end - pos));
        pos = end + 2;
        if (f.size() != 4 || f[0].size() != 19) continue;
        CMissedCall call;
        int k = 0;
        while (k < 3 && f[1] != kKindKeys[k]) ++k;
        if (k == 3) continue;
        call.kind = (CMissedCall::Kind)k;
        call.strTime = CString(f[0]);
        call.strAddress = UnescapeLineText(CString(f[2]));
        call.strName = UnescapeLineText(CString(f[3]));
        m_calls.push_back(call);
    }
}

BOOL CMissedCalls::Save(const CString& strPath) const
{
    std::string text;
    for (const CMissedCall& c : m_calls) {
        text += c.strTime.str() + '\t' + kKindKeys[c.kind] + '\t' + EscapeLineText(c.strAddress).str() +
            '\t' + EscapeLineText(c.strName).str() + "\r\n";
    }
    return WriteFileWhole(strPath, text);
}
