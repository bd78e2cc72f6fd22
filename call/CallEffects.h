// What the call core hands the window: one small struct per kind of effect, each with the data it
// needs and nothing else, and the records of a call for the log. No Windows header here.
#pragma once

#include "call/VerifiedContacts.h"
#include "platform/afxstr.h"

#include <string>
#include <variant>
#include <vector>

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
    // The partner proved an identity the user has not verified: the button to verify it.
    bool bVerifyShown = false;

    bool operator==(const CCallLook& o) const
    {
        return bCallEnabled == o.bCallEnabled && bHangUpEnabled == o.bHangUpEnabled &&
            bAnswerEnabled == o.bAnswerEnabled && bStatusShown == o.bStatusShown &&
            strStatus == o.strStatus && bSecureShown == o.bSecureShown && strSecure == o.strSecure &&
            bVerifyShown == o.bVerifyShown;
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
    Failed, // the connection could not be made
    Tampered, // a secure call's bytes were changed on the way
    NotSecure, // the call is not encrypted, and the user talks only encrypted calls
    Cut, // an encrypted call's connection closed without the partner's sealed hang-up
    MessageTaken, // the answering machine's message reached its bounds, and the machine hung up
};

// What the log is told of a call, one struct per event.
namespace CallRec {
struct Placed { // the call button: where to
    CString strAddress, strPort;
};
struct Connected { // the outgoing connection stands
    CString strAddress;
};
struct Incoming { // a call came in from there
    CString strAddress;
};
struct TurnedAway { // a caller was sent the busy message
    CString strAddress;
    bool bBusy; // a call was held; otherwise do-not-disturb
};
struct Named { // the partner's name
    CString strName;
};
struct PartnerAnswered { };
struct PartnerBusy { };
struct Answered { }; // the user answered
struct Sent {
    CString strText;
};
struct Received {
    std::vector<CString> lines;
};
struct Secured { // the code of an encrypted call, empty for a plain one
    CString strCode;
};
struct Ended {
    CallEnd how;
    int nError; // of a failed call
};
struct MachineAnswered { }; // the answering machine took the call: what the caller says is kept
struct TakenOver { }; // the user typed into the machine's call: an ordinary call from here
struct Trust { // who the partner proved to be
    enum Kind {
        Verified, // a verified contact's identity
        Unverified, // an identity the user has not verified
        Missing, // an encrypted call without an identity (an older copy)
        Changed, // a verified contact's name or place, but not its identity
        VerifiedNow, // the user verified the partner's identity
    };
    Kind kind;
    std::string strFingerprint; // empty when none was proved
};
} // namespace CallRec

using CCallRecord =
    std::variant<CallRec::Placed, CallRec::Connected, CallRec::Incoming, CallRec::TurnedAway, CallRec::Named,
        CallRec::PartnerAnswered, CallRec::PartnerBusy, CallRec::Answered, CallRec::Sent, CallRec::Received,
        CallRec::Secured, CallRec::Ended, CallRec::MachineAnswered, CallRec::TakenOver, CallRec::Trust>;

// A connection's timers: the wait for an encrypted caller's reveal, and the answering machine's
// (the ring before it answers, then the bound of the message).
enum class CallTimer { Reveal, Machine };

// Something for the window to do. Effects that belong to one connection of a call carry its
// generation: once that connection has ended they mean nothing.
namespace CallFx {
struct Connect { // open the outgoing connection
    CString strAddress;
    unsigned nPort;
};
struct Accept { // take the waiting connection as conn
    CallConn conn;
};
struct Close { // close conn: the socket and what waits on it, after sending strLastWords if any
    CallConn conn;
    CString strLastWords; // an encrypted call's sealed hang-up, with what still waited before it
};
struct Flush { // messages wait in conn's queue: send what the socket takes, then report Flushed
    CallConn conn;
    unsigned nGeneration;
};
struct Look {
    CCallLook look;
};
struct PartnerName {
    CallConn conn;
    unsigned nGeneration;
    CString strName;
    bool bKeep; // the callee keeps the caller's name for the phonebook
};
struct ListReceived {
    CallConn conn;
    unsigned nGeneration;
    std::vector<CString> lines;
};
struct ListSent { // append to the send list and empty the send edit
    CString strText;
};
struct ClearLists { }; // no call stands: both lists and the partner's name emptied
struct Ring {
    bool bOn;
};
struct Record {
    CallConn conn;
    CCallRecord what;
};
struct ShowError { // a box with the text of a system error
    int nError;
};
struct ShowText { // a box with a text of the program's
    CString strText;
};
struct NotifyIncoming { }; // "a call has come in", for a window hidden in the tray
struct Timer { // start conn's timer for nMs (one expiry, reported as TimerExpired), or stop it
    CallConn conn;
    bool bOn;
    int nMs;
    CallTimer kind = CallTimer::Reveal;
};
struct KeyWarning { // a box: the partner is not the verified contact it looks like; report its answer
    CallConn conn;
    unsigned nGeneration;
    CString strText;
};
struct Verify { // the user verified the partner: keep it in the contacts file
    CVerifiedContact contact;
};
} // namespace CallFx

using CCallEffect = std::variant<CallFx::Connect, CallFx::Accept, CallFx::Close, CallFx::Flush, CallFx::Look,
    CallFx::PartnerName, CallFx::ListReceived, CallFx::ListSent, CallFx::ClearLists, CallFx::Ring,
    CallFx::Record, CallFx::ShowError, CallFx::ShowText, CallFx::NotifyIncoming, CallFx::Timer,
    CallFx::KeyWarning, CallFx::Verify>;
