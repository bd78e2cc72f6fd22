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

// What the log says of each end; a failure adds its reason.
const char* EndText(CallEnd how)
{
    static const struct {
        CallEnd how;
        const char* pszText;
    } kEnds[] = {
        { CallEnd::HungUp, "終了 (自分が切りました)" },
        { CallEnd::Cancelled, "取り消し (自分が切りました)" },
        { CallEnd::Refused, "拒否 (応答せずに切りました)" },
        { CallEnd::PartnerHungUp, "終了 (相手が切りました)" },
        { CallEnd::Missed, "不在着信 (応答する前に相手が切りました)" },
        { CallEnd::Failed, "失敗 " },
        { CallEnd::Tampered, "終了 (内容が途中で書き換えられました)" },
        { CallEnd::NotSecure, "終了 (暗号化されない通話でした)" },
        { CallEnd::Cut, "終了 (回線が切れました)" },
        { CallEnd::MessageTaken, "終了 (メッセージをお預かりしました)" },
    };
    for (const auto& end : kEnds)
        if (end.how == how) return end.pszText;
    return "終了";
}

} // namespace

void CCallJournal::SetFolder(const CString& strFolder)
{
    m_strFolder = strFolder;
    m_log.SetFolder(strFolder + "log\\");
    m_missed.Load(MissedPath());
    m_messages.Load(strFolder + "Messages.txt");
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

void CCallJournal::Record(CallConn conn, const CCallRecord& what)
{
    Call& call = conn == CallConn::Out ? m_out : m_in;
    std::visit([&](const auto& rec) { Take(call, rec); }, what);
}

void CCallJournal::Take(Call&, const CallRec::Placed& rec)
{
    // A call still being dialled is dropped for the new one.
    End(m_out, "取り消し (かけ直しました)");
    m_bLogErrorShown = false;
    m_out.bOpen = true;
    m_out.strAddress = rec.strAddress;
    m_out.strName.Empty();
    Write("発信 " + EscapeLineText(rec.strAddress) + " ポート " + EscapeLineText(rec.strPort));
}

void CCallJournal::Take(Call&, const CallRec::Connected& rec)
{
    m_out.strAddress = rec.strAddress;
    Write("呼び出し " + EscapeLineText(rec.strAddress));
}

void CCallJournal::Take(Call&, const CallRec::Incoming& rec)
{
    m_bLogErrorShown = false;
    m_in.bOpen = true;
    m_in.strAddress = rec.strAddress;
    m_in.strName.Empty();
    m_in.strCode.Empty();
    m_in.bMachine = false;
    Write("着信 " + EscapeLineText(rec.strAddress));
}

void CCallJournal::Take(Call&, const CallRec::TurnedAway& rec)
{
    // A held call makes the caller a busy one; without one it was do-not-disturb.
    Write((rec.bBusy ? "話し中のため断りました " : "応答しない設定のため断りました ") +
        EscapeLineText(rec.strAddress));
    AddMissed(rec.bBusy ? CMissedCall::Busy : CMissedCall::DoNotDisturb, CString(), rec.strAddress);
}

void CCallJournal::Take(Call& call, const CallRec::Named& rec)
{
    if (!call.bOpen || call.strName == rec.strName) return;
    call.strName = rec.strName;
    Write("相手 " + Who(rec.strName, call.strAddress));
}

void CCallJournal::Take(Call&, const CallRec::PartnerAnswered&)
{
    if (m_out.bOpen) Write(CString("相手が応答しました"));
}

void CCallJournal::Take(Call&, const CallRec::PartnerBusy&)
{
    // What the window shows: "話し中", and who answered so.
    if (m_out.bOpen) Write("話し中 " + Who(m_out.strName, m_out.strAddress));
}

void CCallJournal::Take(Call&, const CallRec::Answered&)
{
    if (m_in.bOpen) Write(CString("応答しました"));
}

void CCallJournal::Take(Call&, const CallRec::Sent& rec) { Write("送信 " + EscapeLineText(rec.strText)); }

void CCallJournal::Take(Call& call, const CallRec::Received& rec)
{
    // With two calls open, each line says which one it came through.
    const CString strFrom = !m_in.bOpen || !m_out.bOpen ? CString("受信 ")
        : &call == &m_out                               ? CString("受信 (かけた通話) ")
                                                        : CString("受信 (受けた通話) ");
    std::vector<CString> texts;
    texts.reserve(rec.lines.size());
    for (const CString& s : rec.lines) texts.push_back(strFrom + EscapeLineText(s));
    Write(texts);
    if (!call.bMachine) return;
    BeginMessage(call);
    for (const CString& s : rec.lines)
        if (!m_messages.AddLine(EscapeLineText(s))) MessagesFailed();
}

void CCallJournal::Take(Call& call, const CallRec::Secured& rec)
{
    call.strCode = rec.strCode;
    if (call.bOpen) Write(rec.strCode.IsEmpty() ? CString("暗号化なし") : "暗号化 " + rec.strCode);
}

void CCallJournal::Take(Call& call, const CallRec::Ended& rec)
{
    const CString strHow = EndText(rec.how);
    End(call, rec.how == CallEnd::Failed ? strHow + ReasonText((DWORD)rec.nError) : strHow);
    // Rang and ended before anyone answered.
    if (rec.how == CallEnd::Missed) AddMissed(CMissedCall::Unanswered, call.strName, call.strAddress);
    // A caller the machine answered left a message, even one without a line: who called is kept.
    EndMessage(call, true);
    call.strCode.Empty();
}

void CCallJournal::Take(Call& call, const CallRec::MachineAnswered&)
{
    if (!call.bOpen) return;
    Write(CString("留守録で応答しました"));
    call.bMachine = true;
    call.bMessageBegun = false;
}

void CCallJournal::Take(Call& call, const CallRec::TakenOver&)
{
    if (!call.bMachine) return;
    Write(CString("留守録から通話に切り替えました"));
    // The user talks to the caller: a message without a line is none.
    EndMessage(call, false);
}

void CCallJournal::BeginMessage(Call& call)
{
    if (call.bMessageBegun) return;
    call.bMessageBegun = true;
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    CStoredMessage m;
    m.strDate.Format("%04u-%02u-%02u", st.wYear, st.wMonth, st.wDay);
    m.strTime.Format("%02u:%02u:%02u", st.wHour, st.wMinute, st.wSecond);
    m.strName = EscapeLineText(call.strName);
    m.strAddress = EscapeLineText(call.strAddress);
    m.strCode = call.strCode;
    if (!m_messages.Begin(m)) MessagesFailed();
}

void CCallJournal::EndMessage(Call& call, bool bKeepEmpty)
{
    if (!call.bMachine) return;
    call.bMachine = false;
    if (!call.bMessageBegun && !bKeepEmpty) return;
    BeginMessage(call);
    m_messages.Finish();
    if (m_onMessage) m_onMessage(call.strName.IsEmpty() ? call.strAddress : call.strName);
}

void CCallJournal::MessagesFailed()
{
    const DWORD dwError = ::GetLastError();
    // Once a run: the messages are still kept in memory until the program ends.
    if (m_bMessagesErrorShown) return;
    m_bMessagesErrorShown = true;
    if (m_onFailure) m_onFailure({ "留守録を保存できませんでした。", m_messages.Path(), dwError });
}

void CCallJournal::EndAll()
{
    EndMessage(m_in, true);
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

void CCallJournal::Take(Call& call, const CallRec::Trust& rec)
{
    if (!call.bOpen) return;
    const CString strKey = CString(rec.strFingerprint);
    switch (rec.kind) {
    case CallRec::Trust::Verified:
        Write("確認済みの相手です 鍵 " + strKey);
        break;
    case CallRec::Trust::Unverified:
        Write("確認していない相手です 鍵 " + strKey);
        break;
    case CallRec::Trust::Missing:
        Write(CString("相手は本人確認の鍵を示しませんでした"));
        break;
    case CallRec::Trust::Changed:
        Write(rec.strFingerprint.empty()
                ? CString("注意: 確認済みの相手と名前か宛先が同じですが、鍵がありません")
                : "注意: 確認済みの相手と名前か宛先が同じですが、鍵が違います 鍵 " + strKey);
        break;
    case CallRec::Trust::VerifiedNow:
        Write("相手を確認済みにしました 鍵 " + strKey);
        break;
    }
}
