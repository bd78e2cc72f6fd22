// Call control without I/O: the state of each connection, what is read from it and what waits to
// be sent on it. Events go in (buttons, Enter, socket events, bytes received); effects come out
// for the window to carry out (open or close a connection, send what waits, list lines, show a
// look, a name or a box, ring, record). No Win32 here: host tests and the fuzzer drive it.
#pragma once

#include "call/CallEffects.h"
#include "call/Identity.h"
#include "call/LineReader.h"
#include "call/SecureChannel.h"
#include "call/SendQueue.h"
#include "platform/afxstr.h"

#include <string>
#include <vector>

// The address and port a call goes to, and the port listened on, when none is given.
inline constexpr char kDefaultAddress[] = "localhost";
inline constexpr char kDefaultPort[] = "32760";

// The longest line of text that may be typed: sealed, its frame still fits in what a partner's
// reader takes as one line (64 KiB before the CR), so no partner cuts it.
inline constexpr int kMaxTypedLine = 49131;

class CCallCore {
public:
    enum class OutState { Idle, Dialling, Calling, Talking, TurnedAway };
    enum class InState { Idle, Ringing, Talking };

    // nWouldBlock: the code a send returns when the socket takes nothing now.
    explicit CCallCore(int nWouldBlock);

    // ---- Events. Each appends its effects; TakeEffects hands them over.

    // The call button, with the texts of the address and port boxes.
    void PressCall(const CString& strAddress, const CString& strPort);
    // The outgoing connection could not be started (Connect's own failure).
    void DialFailed(int nError);
    // The outgoing connection is set up (nError 0, strPeer the partner's address) or failed.
    void Connected(int nError, const CString& strPeer);
    // A connection waits on the listening socket.
    void ConnectionWaiting();
    // The Accept effect's result: strPeer the caller's address, or the error.
    void Accepted(CallConn conn, const CString& strPeer, const CString& strMyName);
    void AcceptFailed(CallConn conn, int nError);
    // Bytes read on a connection. strMyName: the own-name box now, for a greeting in reply.
    // Returns the lines of text it takes for the list. Lines of reads that follow one another
    // with nothing else between go to the list as one batch.
    size_t Received(CallConn conn, const char* pData, int nLength, const CString& strMyName);
    // The partner closed the connection (after everything it sent was read).
    void Closed(CallConn conn);
    // The timer a Timer effect started for conn ran out.
    void TimerExpired(CallConn conn);
    void PressAnswer();
    void PressHangUp();
    // Enter with the typed text; a text that holds CRs goes as one line for each.
    void PressEnter(const CString& strText);
    // The window closes: every encrypted call is sent its sealed hang-up (Flush effects), so that
    // the partner does not take the close for a cut line.
    void Leave();
    // A Flush effect was carried out: nError is the send error, 0 when the socket took its bytes
    // or will take them later. A typed line counts as sent once one of its partners took it.
    void Flushed(CallConn conn, int nError);
    void SetDoNotDisturb(bool bOn) { m_bDoNotDisturb = bOn; }
    bool DoNotDisturb() const { return m_bDoNotDisturb; }
    // The answering machine: on, it answers every call once the caller has said its name; off,
    // it answers a call that rang nAnswerAfter seconds (0: never). It answers as the user
    // would, then sends strText as one line, lists what the caller sends as the message, and
    // ends the message at its bounds. Do-not-disturb still turns callers away.
    void SetAway(bool bOn) { m_bAway = bOn; }
    bool Away() const { return m_bAway; }
    void SetAnswerAfter(int nSeconds) { m_nAnswerAfter = nSeconds; }
    int AnswerAfter() const { return m_nAnswerAfter; }
    void SetAwayText(const CString& strText) { m_strAwayText = strText; }
    const CString& AwayText() const { return m_strAwayText; }
    // The machine's timer (CallTimer::Machine) ran out.
    void MachineTimerExpired();
    // Whether the machine takes a message on the incoming call now.
    bool TakingMessage() const { return m_in.bMachine; }
    // A message's bounds.
    static const int kMessageMs = 3 * 60 * 1000;
    static const int kMessageLines = 200;
    // Calls that do not encrypt end before any line is sent.
    void SetRequireSecure(bool bOn) { m_bRequireSecure = bOn; }
    bool RequireSecure() const { return m_bRequireSecure; }

    // This copy's identity, proved in calls of secure calls version 3 when valid, and the
    // partners the user verified; both stay the window's. Null for none.
    void SetTrust(const CIdentity* pIdentity, const CVerifiedContacts* pContacts)
    {
        m_pIdentity = pIdentity;
        m_pContacts = pContacts;
    }
    // The verify button: the shown call's partner becomes a verified contact (a Verify effect).
    void PressVerify();
    // The box of a KeyWarning effect was answered: typed lines go to that call again.
    void WarningAnswered(CallConn conn, unsigned nGeneration);

    // ---- Effects and state.

    std::vector<CCallEffect> TakeEffects();
    // Sends what waits on conn through send; returns a send error other than would-block, or 0.
    int Flush(CallConn conn, const CSendQueue::SendFn& send);
    CCallLook Look() const;
    OutState Out() const { return m_out.state; }
    InState In() const { return m_in.state; }
    // Counts the connections conn has had, so a caller notices that its own has ended.
    unsigned Generation(CallConn conn) const;
    size_t Queued(CallConn conn) const;
    size_t PendingBytes(CallConn conn) const;

private:
    // Where a call's encryption stands: none yet; the caller committed and waits for the answer
    // line; the callee answered a commitment and waits for the reveal; on; or found plain.
    enum class Secure { None, Offered, Committed, On, Plain };
    // Who the partner proved to be, once known (see CallRec::Trust); Unknown before and for a
    // plain or older partner that looks like no verified contact.
    enum class Trust { Unknown, Verified, Unverified, Changed };

    struct Link {
        CLineReader reader;
        CSendQueue queue;
        unsigned nGeneration = 0;
        Secure secure = Secure::None;
        bool bTimer = false; // the reveal's time-out runs
        bool bBusyText = false; // "B" read after the partner answered: the hidden status says busy
        bool bSealedEnd = false; // the partner's sealed hang-up came; its close is next
        bool bGoodbye = false; // this side's sealed hang-up is queued: it goes before the close
        bool bGreeted = false; // the partner's one greeting has been taken
        bool bMachineTimer = false; // the answering machine's timer runs
        bool bMachine = false; // the answering machine took the call and takes a message
        int nMachineLines = 0; // lines of the message so far
        CSecureChannel channel;
        std::string strCallerGreeting, strCalleeGreeting; // as composed, for the transcript
        bool bVersionSent = false; // this side sent its version line
        bool bPeerV3 = false; // the partner's version line came: the call agrees version 3
        bool bProofDue = false; // version 3: the partner's identity proof is its next frame
        bool bWarningOpen = false; // the key warning's box is not answered yet
        Trust trust = Trust::Unknown;
        std::string strPeerFingerprint; // of the identity the partner proved
        CString strPartnerName; // from its greeting
        CString strPlace, strPort; // where the partner was reached (the port only when called)
        explicit Link(int nWouldBlock) : queue(nWouldBlock) { }
        void Reset();
    };
    struct OutLink : Link {
        using Link::Link;
        OutState state = OutState::Idle;
    };
    struct InLink : Link {
        using Link::Link;
        InState state = InState::Idle;
    };

    Link* LinkOf(CallConn conn);
    const Link* LinkOf(CallConn conn) const;
    template <class T> T& Add(T effect)
    {
        m_effects.emplace_back(std::move(effect));
        return std::get<T>(m_effects.back());
    }
    // Boxes come after everything else an event causes: a box's loop may hand the window later
    // events.
    void Box(const CString& strText) { m_boxes.emplace_back(CallFx::ShowText { strText }); }
    void ErrorBox(int nError) { m_boxes.emplace_back(CallFx::ShowError { nError }); }
    void Record(CallConn conn, CCallRecord what) { Add(CallFx::Record { conn, std::move(what) }); }
    void Transmit(CallConn conn) { Add(CallFx::Flush { conn, LinkOf(conn)->nGeneration }); }
    // Queues a whole message, sealed once the call is encrypted; false (and a box) when the
    // partner has not taken enough. A refused message is not sealed: the frame count stays.
    bool Queue(CallConn conn, const CString& strMessage);
    void SetTimer(CallConn conn, bool bOn);
    // The links a typed line goes to now, and whether all of them have room for the lines.
    std::vector<CallConn> SendTargets() const;
    bool RoomFor(const std::vector<CallConn>& targets, const std::vector<CString>& lines) const;
    void Apply(CallConn conn, const CLineMessage& msg, const CString& strMyName, std::vector<CString>& batch);
    // Whether a line read on conn ends its encrypted or half-agreed call as changed on the way.
    bool Refused(CallConn conn, const CLineMessage& msg) const;
    // A frame opened into the plain message it carries; false when the call ended for it or the
    // frame was the partner's sealed hang-up.
    bool Unseal(CallConn conn, const CLineMessage& msg, CLineMessage* pPlain);
    void TakeCalleeGreeting(CallConn conn, const CString& strName, const CString& strMyName);
    void TakeCallerGreeting(CallConn conn, const CString& strName);
    void TakeCommit(CallConn conn, const CString& strLine);
    void TakeReveal(CallConn conn, const CString& strLine);
    void TakeKeyAnswer(CallConn conn, const CString& strLine);
    void TakeAnswer(CallConn conn);
    void TakeBusy(CallConn conn);
    void TakeVersion(CallConn conn, const CString& strLine);
    // Whether the partner is who its name or place says: after a plain or version-2 decision,
    // or the version-3 proof. A verified contact's name or place without its identity: the box.
    void Classify(CallConn conn);
    // The link whose call the window shows, or null.
    const Link* Shown() const;
    // A greeting of the wrong kind for the connection's role, or a second one: ignored in a plain
    // call, the end of one that encrypts or agrees its keys.
    void StrayGreeting(CallConn conn);
    // Whether the link's call encrypts or is agreeing its keys.
    static bool Keyed(const Link& link);
    // Why Enter sent nothing to a call that talks; empty when no such call stands.
    CString NotSentReason() const;
    // The library cannot start: said once, and the call talks plain.
    bool LibraryFailed(CallConn conn);
    // An encrypted call that was answered closed without the partner's sealed hang-up: the line
    // was cut.
    bool IsCut(CallConn conn) const;
    void Cut(CallConn conn);
    // conn's Close effect, carrying this side's sealed hang-up when one waits.
    void AddClose(CallConn conn);
    // The typed line waiting to be listed: conn took it (bTaken) or could not.
    void SettleLine(CallConn conn, bool bTaken);
    void ListBatch(CallConn conn, std::vector<CString>& batch);
    void EndOut(CallEnd how, int nError = 0);
    void EndIn(CallEnd how);
    void End(CallConn conn, CallEnd how);
    // The call on conn turns out plain (bSecure false) or encrypted: recorded, and with the user's
    // option a plain call ends. False when the call ended.
    bool Decide(CallConn conn, bool bSecure, bool bClassify = true);
    // A secure call's bytes were changed on the way: the call ends with a box.
    void Tampered(CallConn conn);
    size_t WireSize(CallConn conn, size_t nMessage) const;
    // The answering machine: the call answered, "C" with the greeting, the take-over by typing,
    // the end at the bounds.
    void SetMachineTimer(bool bOn, int nMs);
    void MachineAnswer();
    void SendAnswer();
    void TakeOver();
    void MessageFull();
    // A line of the machine's message was taken for the list: at the bound the message ends.
    void CountMessageLine(CallConn conn, std::vector<CString>& batch);
    // After a change: the look if it changed, the ring if it changed, and empty lists when no
    // call is left.
    void Settle(bool bCallEnded);

    int m_nWouldBlock;
    OutLink m_out;
    InLink m_in;
    Link m_busy;
    bool m_bBusyOpen = false;
    bool m_bDoNotDisturb = false;
    bool m_bRequireSecure = false;
    bool m_bAway = false;
    int m_nAnswerAfter = 0;
    CString m_strAwayText;
    bool m_bRingOn = false;
    bool m_bLibraryFailed = false; // the library could not start (and the user was told)
    size_t m_nLinesTaken = 0; // lines of text taken for the lists, ever
    // The lines typed last, until each connection they went to has reported its flush.
    struct TypedLine {
        std::vector<CString> lines;
        std::vector<CallConn> waiting;
        CallConn first = CallConn::Out;
        bool bTaken = false;
    } m_typed;
    const CIdentity* m_pIdentity = nullptr;
    const CVerifiedContacts* m_pContacts = nullptr;
    CCallLook m_look; // as last shown
    std::vector<CCallEffect> m_effects;
    std::vector<CCallEffect> m_boxes;
};
