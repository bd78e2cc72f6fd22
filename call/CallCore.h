// Call control without I/O: the state of each connection, what is read from it and what waits to
// be sent on it. Events go in (buttons, Enter, socket events, bytes received); effects come out
// for the window to carry out (open or close a connection, send what waits, list lines, show a
// look, a name or a box, ring, record). No Win32 here: host tests and the fuzzer drive it.
#pragma once

#include "call/LineReader.h"
#include "call/SecureChannel.h"
#include "call/SendQueue.h"
#include "platform/afxstr.h"

#include <string>
#include <vector>

// The address and port a call goes to, and the port listened on, when none is given.
inline constexpr char kDefaultAddress[] = "localhost";
inline constexpr char kDefaultPort[] = "32760";

// The connections the window keeps: the call it placed, the call it took, and the last caller it
// turned away.
enum class CallConn { Out, In, Busy };

// What the call buttons and the status display show.
struct CCallLook {
    bool bCallEnabled = true;
    bool bHangUpEnabled = false;
    bool bAnswerEnabled = false;
    bool bStatusShown = false;
    CString strStatus;
    // While a call stands: whether it is encrypted, with its code ("暗号化 123 456", "暗号化なし").
    bool bSecureShown = false;
    CString strSecure;

    bool operator==(const CCallLook& o) const
    {
        return bCallEnabled == o.bCallEnabled && bHangUpEnabled == o.bHangUpEnabled &&
            bAnswerEnabled == o.bAnswerEnabled && bStatusShown == o.bStatusShown &&
            strStatus == o.strStatus && bSecureShown == o.bSecureShown && strSecure == o.strSecure;
    }
    bool operator!=(const CCallLook& o) const { return !(*this == o); }
};

// How a call ended, as the log and the missed calls tell it.
enum class CallEnd {
    HungUp, // the user hung up a call that stood
    Cancelled, // the user hung up while dialling
    Refused, // the user hung up while it rang
    PartnerHungUp, // the partner closed a call that stood
    Missed, // the partner closed while it rang
    Failed, // the connection could not be made (nCode is the error)
    Tampered, // a secure call\'s bytes were changed on the way
    NotSecure, // the partner does not encrypt, and the user talks only encrypted calls
};

// Something for the window to do. Effects come in order; boxes come after everything else an
// event causes, since a box's loop may hand the window later events.
struct CCallEffect {
    enum Kind {
        Connect, // open the outgoing connection to strText, port nCode
        Accept, // take the waiting connection as conn
        Close, // close conn (the socket and its queued messages)
        Transmit, // bytes wait on conn: Flush it
        Look, // show Look()
        PartnerName, // show strText as the partner's name (bKeep: also keep it for the phonebook)
        ListReceived, // append lines to the receive list
        ListSent, // append strText to the send list and empty the send edit
        ClearLists, // empty both lists and the partner's name: no call stands
        Ring, // bOn: the incoming call rings, or no longer
        Record, // tell the log: see Event
        ShowError, // box with the text of error nCode
        ShowText, // box with strText
        NotifyIncoming // box "a call has come in" for a window hidden in the tray
    };
    // For Record.
    enum Event {
        Placed, // strText address, strExtra port
        Connected, // strText the partner's address
        Incoming, // strText the partner's address
        TurnedAway, // strText the caller's address; bOn: busy (else do-not-disturb)
        Named, // strText the partner's name
        PartnerAnswer, // the partner answered
        PartnerBusy, // the partner is busy
        Answered, // the user answered
        Sent, // strText the line
        Received, // lines
        Secured, // strText the code of an encrypted call, empty for a plain one
        Ended // how: nCode is a CallEnd, nExtra the error of a failed call
    };

    Kind kind;
    CallConn conn = CallConn::Out;
    unsigned nGeneration = 0; // of conn when the effect was made
    Event event = Placed;
    bool bOn = false;
    int nCode = 0;
    int nExtra = 0;
    CString strText;
    CString strExtra;
    std::vector<CString> lines;
};

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
    void PressAnswer();
    void PressHangUp();
    // Enter with the typed text.
    void PressEnter(const CString& strText);
    void SetDoNotDisturb(bool bOn) { m_bDoNotDisturb = bOn; }
    bool DoNotDisturb() const { return m_bDoNotDisturb; }
    // Calls that do not encrypt end before any line is sent.
    void SetRequireSecure(bool bOn) { m_bRequireSecure = bOn; }
    bool RequireSecure() const { return m_bRequireSecure; }

    // ---- Effects and state.

    std::vector<CCallEffect> TakeEffects();
    // Sends what waits on conn through send; returns a send error other than would-block, or 0.
    int Flush(CallConn conn, const CSendQueue::SendFn& send);
    CCallLook Look() const;
    OutState Out() const { return m_out.state; }
    InState In() const { return m_in.state; }
    bool BusyOpen() const { return m_bBusyOpen; }
    // A call is being placed or stands: the call button may not place another.
    bool CallStands() const { return m_out.state != OutState::Idle || m_in.state != InState::Idle; }
    // Counts the connections conn has had, so a caller notices that its own has ended.
    unsigned Generation(CallConn conn) const;
    size_t Queued(CallConn conn) const;
    size_t PendingBytes(CallConn conn) const;

private:
    // Where a call's encryption stands: none yet, offered by the caller, on, or found plain.
    enum class Secure { None, Offered, On, Plain };

    struct Link {
        CLineReader reader;
        CSendQueue queue;
        unsigned nGeneration = 0;
        Secure secure = Secure::None;
        CSecureChannel channel;
        std::string strCallerGreeting, strCalleeGreeting; // as composed, for the transcript
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
    CCallEffect& Add(CCallEffect::Kind kind, CallConn conn = CallConn::Out);
    void AddBox(const CCallEffect& box) { m_boxes.push_back(box); }
    void Record(CCallEffect::Event event, CallConn conn, const CString& strText = CString());
    void RecordEnd(CallConn conn, CallEnd how, int nError = 0);
    // Queues a whole message; false (and a box) when the partner has not taken enough.
    bool Queue(CallConn conn, const CString& strMessage);
    void Apply(CallConn conn, const CLineMessage& msg, const CString& strMyName, std::vector<CString>& batch);
    void ListBatch(CallConn conn, std::vector<CString>& batch);
    void EndOut(CallEnd how, int nError = 0);
    void EndIn(CallEnd how);
    void End(CallConn conn, CallEnd how);
    // The call on conn turns out plain (bSecure false) or encrypted: recorded, and with the user's
    // option a plain call ends. False when the call ended.
    bool Decide(CallConn conn, bool bSecure);
    // A secure call's bytes were changed on the way: the call ends with a box.
    void Tampered(CallConn conn);
    size_t WireSize(CallConn conn, size_t nMessage) const;
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
    bool m_bRingOn = false;
    size_t m_nLinesTaken = 0; // lines of text taken for the lists, ever
    CCallLook m_look; // as last shown
    std::vector<CCallEffect> m_effects;
    std::vector<CCallEffect> m_boxes;
};
