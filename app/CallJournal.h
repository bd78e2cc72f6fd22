// What is kept of calls: the conversation log (when on) and the missed calls, written as call
// control reports each event of a call.
#pragma once

#include "app/ConversationLog.h"
#include "app/MessageStore.h"
#include "app/MissedCalls.h"
#include "call/CallEffects.h"

#include <functional>
#include <vector>

// A record that could not be written: what, to which file, and the system's error code.
struct CJournalFailure {
    const char* pszWhat = "";
    CString strPath;
    DWORD dwError = 0;
};

class CCallJournal {
public:
    // The folder of the log's folder and of the missed-calls file; reads the missed calls.
    void SetFolder(const CString& strFolder);
    bool LogOn() const { return m_bLogOn; }
    void SetLogOn(bool bOn);

    // One event of a call (a Record effect).
    void Record(CallConn conn, const CCallRecord& what);
    // The program ends: calls still open end in the log, and its file is closed.
    void EndAll();
    // Who the partner of a call is, as a balloon names it: the name, or the address.
    CString PartnerOf(CallConn conn) const;

    CMissedCalls& Missed() { return m_missed; }
    // The answering machine's messages; the handler is told when one has been taken.
    CMessageStore& Messages() { return m_messages; }
    void SetMessageHandler(std::function<void(const CString& strFrom)> fn) { m_onMessage = std::move(fn); }
    // Whether the answering machine takes a message on the call: its lines are the message's,
    // not unread lines.
    bool MachineCall(CallConn conn) const { return conn == CallConn::In && m_in.bMachine; }
    // A write of the messages failed (reported once a run).
    void MessagesFailed();
    // Writes the missed calls; a failure is reported once a run.
    void SaveMissed();
    // Who is told of a failed write (the log once a call, the missed calls once a run).
    void SetFailureHandler(std::function<void(const CJournalFailure&)> fn) { m_onFailure = std::move(fn); }
    // The path of today's log, closed so that an editor finds it free; empty when there is none
    // yet.
    CString TodayLog();

private:
    struct Call {
        bool bOpen = false; // started in the log and not yet ended there
        CString strAddress;
        CString strName;
        CString strCode; // of an encrypted call
        bool bMachine = false; // the answering machine takes a message
        bool bMessageBegun = false; // and its header has been written
    };
    // Writes records ("HH:MM:SS " + text + CRLF) of now with one write, when the log is on.
    void Write(const std::vector<CString>& texts);
    void Write(const CString& strText) { Write(std::vector<CString> { strText }); }
    void End(Call& rCall, const CString& strHow);
    // Each record, into the log and the missed calls; rCall is the call it belongs to.
    void Take(Call& rCall, const CallRec::Placed& rec);
    void Take(Call& rCall, const CallRec::Connected& rec);
    void Take(Call& rCall, const CallRec::Incoming& rec);
    void Take(Call& rCall, const CallRec::TurnedAway& rec);
    void Take(Call& rCall, const CallRec::Named& rec);
    void Take(Call& rCall, const CallRec::PartnerAnswered& rec);
    void Take(Call& rCall, const CallRec::PartnerBusy& rec);
    void Take(Call& rCall, const CallRec::Answered& rec);
    void Take(Call& rCall, const CallRec::Sent& rec);
    void Take(Call& rCall, const CallRec::Received& rec);
    void Take(Call& rCall, const CallRec::Secured& rec);
    void Take(Call& rCall, const CallRec::Ended& rec);
    void Take(Call& rCall, const CallRec::MachineAnswered& rec);
    void Take(Call& rCall, const CallRec::TakenOver& rec);
    // The machine's message: begun at its first line (or its end, with none), when the name and
    // the encryption are known; ended with the call or the user's take-over.
    void BeginMessage(Call& rCall);
    void EndMessage(Call& rCall, bool bKeepEmpty);
    void Take(Call& rCall, const CallRec::Trust& rec);
    void AddMissed(CMissedCall::Kind kind, const CString& strName, const CString& strAddress);
    CString MissedPath() const { return m_strFolder + "MissedCalls.txt"; }

    CString m_strFolder;
    CConversationLog m_log;
    CMissedCalls m_missed;
    CMessageStore m_messages;
    Call m_in; // the incoming call
    Call m_out; // the outgoing call
    bool m_bLogOn = true;
    bool m_bLogErrorShown = false; // a failed log write has been reported for this call
    bool m_bMissedErrorShown = false; // a failed write of the missed calls has been reported
    bool m_bMessagesErrorShown = false; // a failed write of the messages has been reported
    std::function<void(const CString&)> m_onMessage;
    std::function<void(const CJournalFailure&)> m_onFailure;
};
