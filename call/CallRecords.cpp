// What call control reports of a call: written to the conversation log as it happens, missed
// calls recorded, the ring started and stopped, and received lines announced while the user
// does not look at the window.
#include "app/PhoneDlg.h"
#include "ui/TrayIcon.h"

namespace {

// The reason of a failed call or write on one line: the error's text without its line end.
CString ReasonText(DWORD dwError)
{
    const CString s = CPhoneDlg::ErrorText(dwError);
    int nLen = s.GetLength();
    while (nLen > 0 && (s[nLen - 1] == '\r' || s[nLen - 1] == '\n' || s[nLen - 1] == ' ')) --nLen;
    return EscapeLineText(s.Left(nLen));
}

// What could not be written, where, and why.
void ShowWriteError(const char* pszWhat, const CString& strPath, DWORD dwError)
{
    AfxMessageBox(CString(pszWhat) + "\r\n" + strPath + "\r\n" + CPhoneDlg::ErrorText(dwError),
        MB_OK | MB_ICONEXCLAMATION);
}

// "北の間 (127.0.0.1)", or the address alone while the name is unknown.
CString Who(const CString& strName, const CString& strAddress)
{
    if (strName.IsEmpty()) return EscapeLineText(strAddress);
    return EscapeLineText(strName) + " (" + EscapeLineText(strAddress) + ")";
}

} // namespace

CString CPhoneDlg::PartnerAddress(CCallSocket* pSocket) const
{
    CString strAddress;
    UINT nPort = 0;
    if (!pSocket || !pSocket->GetPeerName(strAddress, nPort)) return CString("?");
    return strAddress;
}

void CPhoneDlg::WriteLog(const std::vector<CString>& texts)
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
    if (!m_recIn.bOpen && !m_recOut.bOpen) m_log.Close();
    if (bWritten) return;
    // Once per call; the call goes on without its log.
    if (m_bLogErrorShown) return;
    m_bLogErrorShown = true;
    ShowWriteError("会話の記録を書き込めませんでした。", m_log.PathFor(st), dwError);
}

void CPhoneDlg::EndCallRecord(CCallRecord& rRecord, const char* pszHow)
{
    if (!rRecord.bOpen) return;
    rRecord.bOpen = false;
    WriteLog(CString(pszHow));
}

// ---------------------------------------------------------------------------------------------
// Outgoing calls

void CPhoneDlg::OnCallPlaced(const CString& strAddress, const CString& strPort)
{
    // A call still being dialled is dropped for the new one.
    EndCallRecord(m_recOut, "取り消し (かけ直しました)");
    m_bLogErrorShown = false;
    m_recOut.bOpen = true;
    m_recOut.strAddress = strAddress;
    m_recOut.strName.Empty();
    WriteLog("発信 " + EscapeLineText(strAddress) + " ポート " + EscapeLineText(strPort));
}

void CPhoneDlg::OnCallConnected()
{
    m_recOut.strAddress = PartnerAddress(&m_sockCall);
    WriteLog("呼び出し " + EscapeLineText(m_recOut.strAddress));
}

void CPhoneDlg::OnCallFailed(DWORD dwError)
{
    if (!m_recOut.bOpen) return;
    m_recOut.bOpen = false;
    WriteLog("失敗 " + ReasonText(dwError));
}

void CPhoneDlg::OnPartnerBusy(const CCallSocket& rFrom)
{
    if (&rFrom != &m_sockCall || !m_recOut.bOpen) return;
    // What the window shows: "話し中", and who answered so.
    WriteLog("話し中 " + Who(m_recOut.strName, m_recOut.strAddress));
}

// ---------------------------------------------------------------------------------------------
// Incoming calls

void CPhoneDlg::OnIncomingCall()
{
    m_bLogErrorShown = false;
    m_recIn.bOpen = true;
    m_recIn.strAddress = PartnerAddress(m_pInSocket);
    m_recIn.strName.Empty();
    WriteLog("着信 " + EscapeLineText(m_recIn.strAddress));
    StartRinging();
}

void CPhoneDlg::OnCallerTurnedAway()
{
    // A held call makes the caller a busy one; without one it was do-not-disturb.
    const bool bBusy = m_bInConnected;
    const CString strAddress = PartnerAddress(m_pBusySocket);
    WriteLog(
        (bBusy ? "話し中のため断りました " : "応答しない設定のため断りました ") + EscapeLineText(strAddress));
    AddMissedCall(bBusy ? CMissedCall::Busy : CMissedCall::DoNotDisturb, CString(), strAddress);
}

void CPhoneDlg::OnCallAnswered()
{
    StopRinging();
    if (m_recIn.bOpen) WriteLog(CString("応答しました"));
}

// ---------------------------------------------------------------------------------------------
// Either side

void CPhoneDlg::OnPartnerNamed(const CCallSocket& rFrom, const CString& strName)
{
    CCallRecord& rec = &rFrom == &m_sockCall ? m_recOut : m_recIn;
    if (!rec.bOpen || rec.strName == strName) return;
    rec.strName = strName;
    WriteLog("相手 " + Who(strName, rec.strAddress));
}

void CPhoneDlg::OnPartnerAnswered(const CCallSocket& rFrom)
{
    if (&rFrom == &m_sockCall && m_recOut.bOpen) WriteLog(CString("相手が応答しました"));
}

void CPhoneDlg::OnLineSent(const CString& strText) { WriteLog("送信 " + EscapeLineText(strText)); }

void CPhoneDlg::OnLinesReceived(const std::vector<CString>& lines)
{
    if (lines.empty()) return;
    std::vector<CString> texts;
    texts.reserve(lines.size());
    for (const CString& s : lines) texts.push_back("受信 " + EscapeLineText(s));
    WriteLog(texts);

    if (UserSeesWindow()) return;
    m_nUnread += (int)lines.size();
    // Received data comes from the incoming call when one is held.
    const CCallRecord& rec = m_bInConnected ? m_recIn : m_recOut;
    CString strText = EscapeLineText(lines.back());
    // An empty text would take the balloon away instead of showing it.
    if (strText.IsEmpty()) strText = " ";
    CTrayIcon().ShowBalloon(m_hWnd, 1, EscapeLineText(rec.strName.IsEmpty() ? rec.strAddress : rec.strName),
        strText, !m_bSoundOn);
    UpdateTrayTip();
}

void CPhoneDlg::OnHangUpPressed()
{
    if (m_bOutConnected)
        EndCallRecord(m_recOut, "終了 (自分が切りました)");
    else if (m_bCalling)
        EndCallRecord(m_recOut, "取り消し (自分が切りました)");
    if (m_bRinging)
        EndCallRecord(m_recIn, "拒否 (応答せずに切りました)");
    else if (m_bInConnected)
        EndCallRecord(m_recIn, "終了 (自分が切りました)");
    StopRinging();
}

void CPhoneDlg::OnCallEndedByPartner(bool bIncoming)
{
    if (!bIncoming) {
        EndCallRecord(m_recOut, "終了 (相手が切りました)");
        return;
    }
    if (m_bRinging) {
        // Rang and ended before anyone answered: a missed call.
        EndCallRecord(m_recIn, "不在着信 (応答する前に相手が切りました)");
        AddMissedCall(CMissedCall::Unanswered, m_recIn.strName, m_recIn.strAddress);
        StopRinging();
    } else {
        EndCallRecord(m_recIn, "終了 (相手が切りました)");
    }
}

void CPhoneDlg::OnProgramEnding()
{
    StopRinging();
    EndCallRecord(m_recOut, "終了 (プログラムを終了しました)");
    EndCallRecord(m_recIn, "終了 (プログラムを終了しました)");
    m_log.Close();
    WriteNoticeSettings();
}

// ---------------------------------------------------------------------------------------------
// Missed calls

void CPhoneDlg::AddMissedCall(CMissedCall::Kind kind, const CString& strName, const CString& strAddress)
{
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    CMissedCall call;
    call.strTime = MissedCallTime(st);
    call.strName = strName;
    call.strAddress = strAddress;
    call.kind = kind;
    m_missed.Add(call);
    SaveMissedCalls();
    UpdateTrayTip();
}

void CPhoneDlg::SaveMissedCalls()
{
    if (m_missed.Save(MissedCallsPath())) return;
    const DWORD dwError = ::GetLastError();
    // Once a run: the list still works in memory until the program ends.
    if (m_bMissedErrorShown) return;
    m_bMissedErrorShown = true;
    ShowWriteError("不在着信を保存できませんでした。", MissedCallsPath(), dwError);
}
