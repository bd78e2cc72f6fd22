#include "app/CallJournal.h"

#include "call/ErrorText.h"

namespace {

// The reason of a failed call or write on one line: the error's text without its line end.
CString ReasonText(DWORD dwError)
{
    const CString s = ErrorText(dwError);
    int nLen = s.GetLength();
    while (nLen > 0 && (s[nLen - 1] == '\r' || s[nLen - 1] == '\n' || s[nLen - 1] == ' ')) --nLen;
    return EscapeLineText(s.Left(nLen));
}

// "北の間 (127.0.0.1)", or the address alone while the name is unknown.
CString Who(const CString& strName, const CString& strAddress)
{
    if (strName.IsEmpty()) return EscapeLineText(strAddress);
    return EscapeLineText(strName) + " (" + EscapeLineText(strAddress) + ")";
}

} // namespace

void CCallJournal::SetFolder(const CString& strFolder)
{
    m_strFolder = strFolder;
    m_log.SetFolder(strFolder + "log\\");
    m_missed.Load(MissedPath());
}

void CCallJournal::SetLogOn(bool bOn)
{
    m_bLogOn = bOn;
    if (!bOn) m_log.Close();
}

void CCallJournal::Write(const std::vector<CString>& texts)
{
    if (!m_bLogOn || texts.empty()) return;
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    const CString strTime = RecordTime(st);
    std::string records;
    for (const CString& s : texts) records += strTime.str() + s.str() + "\r\n";
    const BOOL bWritten = m_log.Append(st, CString(records));
    const DWORD dwError = ::GetLastError();
    // The file stays open while a call stands, so that a flood of lines costs one write a read;
    // between calls it is closed, and any editor may open it.
    if (!m_in.bOpen && !m_out.bOpen) m_log.Close();
    if (bWritten) return;
    // Once per call; the call goes on without its log.
    if (m_bLogErrorShown) return;
    m_bLogErrorShown = true;
    if (m_onFailure) m_onFailure({ "会話の記録を書き込めませんでした。", m_log.PathFor(st), dwError });
}

void CCallJournal::End(Call& rCall, const CString& strHow)
{
    if (!rCall.bOpen) return;
    rCall.bOpen = false;
    Write(strHow);
}

void CCallJournal::Record(const CCallEffect& e)
{
    Call& call = e.conn == CallConn::Out ? m_out : m_in;
    switch (e.event) {
    case CCallEffect::Placed:
        // A call still being dialled is dropped for the new one.
        End(m_out, "取り消し (かけ直しました)");
        m_bLogErrorShown = false;
        m_out.bOpen = true;
        m_out.strAddress = e.strText;
        m_out.strName.Empty();
        Write("発信 " + EscapeLineText(e.strText) + " ポート " + EscapeLineText(e.strExtra));
        break;
    case CCallEffect::Connected:
        m_out.strAddress = e.strText;
        Write("呼び出し " + EscapeLineText(e.strText));
        break;
    case CCallEffect::Incoming:
        m_bLogErrorShown = false;
        m_in.bOpen = true;
        m_in.strAddress = e.strText;
        m_in.strName.Empty();
        Write("着信 " + EscapeLineText(e.strText));
        break;
    case CCallEffect::TurnedAway:
        // A held call makes the caller a busy one; without one it was do-not-disturb.
        Write((e.bOn ? "話し中のため断りました " : "応答しない設定のため断りました ") +
            EscapeLineText(e.strText));
        AddMissed(e.bOn ? CMissedCall::Busy : CMissedCall::DoNotDisturb, CString(), e.strText);
        break;
    case CCallEffect::Named:
        if (!call.bOpen || call.strName == e.strText) break;
        call.strName = e.strText;
        Write("相手 " + Who(e.strText, call.strAddress));
        break;
    case CCallEffect::PartnerAnswer:
        if (m_out.bOpen) Write(CString("相手が応答しました"));
        break;
    case CCallEffect::PartnerBusy:
        // What the window shows: "話し中", and who answered so.
        if (m_out.bOpen) Write("話し中 " + Who(m_out.strName, m_out.strAddress));
        break;
    case CCallEffect::Answered:
        if (m_in.bOpen) Write(CString("応答しました"));
        break;
    case CCallEffect::Sent:
        Write("送信 " + EscapeLineText(e.strText));
        break;
    case CCallEffect::Received: {
        std::vector<CString> texts;
        texts.reserve(e.lines.size());
        for (const CString& s : e.lines) texts.push_back("受信 " + EscapeLineText(s));
        Write(texts);
        break;
    }
    case CCallEffect::Secured:
        if (call.bOpen) Write(e.strText.IsEmpty() ? CString("暗号化なし") : "暗号化 " + e.strText);
        break;
    case CCallEffect::Ended: {
        // What the log says of each end, in the order of CallEnd; a failure adds its reason.
        static const char* const kHow[] = { "終了 (自分が切りました)", "取り消し (自分が切りました)",
            "拒否 (応答せずに切りました)", "終了 (相手が切りました)",
            "不在着信 (応答する前に相手が切りました)", "失敗 ", "終了 (内容が途中で書き換えられました)",
            "終了 (暗号化しない相手でした)" };
        const CallEnd how = (CallEnd)e.nCode;
        End(call,
            how == CallEnd::Failed ? kHow[e.nCode] + ReasonText((DWORD)e.nExtra) : CString(kHow[e.nCode]));
        // Rang and ended before anyone answered.
        if (how == CallEnd::Missed) AddMissed(CMissedCall::Unanswered, call.strName, call.strAddress);
        break;
    }
    }
}

void CCallJournal::EndAll()
{
    End(m_out, "終了 (プログラムを終了しました)");
    End(m_in, "終了 (プログラムを終了しました)");
    m_log.Close();
}

CString CCallJournal::PartnerOf(CallConn conn) const
{
    const Call& call = conn == CallConn::Out ? m_out : m_in;
    return call.strName.IsEmpty() ? call.strAddress : call.strName;
}

void CCallJournal::AddMissed(CMissedCall::Kind kind, const CString& strName, const CString& strAddress)
{
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    CMissedCall call;
    call.strTime = MissedCallTime(st);
    call.strName = strName;
    call.strAddress = strAddress;
    call.kind = kind;
    m_missed.Add(call);
    SaveMissed();
}

void CCallJournal::SaveMissed()
{
    if (m_missed.Save(MissedPath())) return;
    const DWORD dwError = ::GetLastError();
    // Once a run: the list still works in memory until the program ends.
    if (m_bMissedErrorShown) return;
    m_bMissedErrorShown = true;
    if (m_onFailure) m_onFailure({ "不在着信を保存できませんでした。", MissedPath(), dwError });
}

CString CCallJournal::TodayLog()
{
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    const CString strPath = m_log.PathFor(st);
    if (::GetFileAttributesA(strPath) == INVALID_FILE_ATTRIBUTES) return CString();
    // Opened again at the next record.
    m_log.Close();
    return strPath;
}
