#include "call/CallCore.h"

#include <algorithm>
#include <cstdlib>

namespace {

const char kStatusCalling[] = "呼び出し中";
const char kStatusBusy[] = "話し中";

// A secure call that ends for what came over the wire, and the look of encryption.
const char kTampered[] =
    "通話の内容が途中で書き換えられたため、通話を終了しました。受け取った内容は表示していません。";
const char kNotSecure[] = "相手が暗号化に対応していないため、通話を終了しました。";
const char kSecureOn[] = "暗号化 ";
const char kSecureOff[] = "暗号化なし";

// Told when a line does not fit in what may wait for a partner that does not read.
const char kNotReceiving[] =
    "相手が受信していません。この行は送れませんでした。しばらくしてから、もう一度送ってください。";

// The reader takes received bytes in pieces of the size one read always had: a zero byte ends the
// text of its piece and a tail without CR may be taken at a piece's end, so the piece size decides
// what is listed, and it stays what partners have always seen.
const int kReaderPiece = 1024;

// A send function that takes nothing: messages are queued, and go out at the Transmit effect.
CSendQueue::SendFn HoldAll(int nWouldBlock)
{
    return [nWouldBlock](const char*, int, int* pnError) {
        *pnError = nWouldBlock;
        return -1;
    };
}

bool OutConnected(CCallCore::OutState s)
{
    return s == CCallCore::OutState::Calling || s == CCallCore::OutState::Talking ||
        s == CCallCore::OutState::TurnedAway;
}

} // namespace

void CCallCore::Link::Reset()
{
    reader.Reset();
    queue.Clear();
    ++nGeneration;
    secure = Secure::None;
    channel.Wipe();
    strCallerGreeting.clear();
    strCalleeGreeting.clear();
}

CCallCore::CCallCore(int nWouldBlock)
    : m_nWouldBlock(nWouldBlock), m_out(nWouldBlock), m_in(nWouldBlock), m_busy(nWouldBlock)
{
    m_look.strStatus = kStatusCalling;
}

CCallCore::Link* CCallCore::LinkOf(CallConn conn)
{
    return conn == CallConn::Out ? (Link*)&m_out : conn == CallConn::In ? (Link*)&m_in : &m_busy;
}

const CCallCore::Link* CCallCore::LinkOf(CallConn conn) const
{
    return const_cast<CCallCore*>(this)->LinkOf(conn);
}

unsigned CCallCore::Generation(CallConn conn) const { return LinkOf(conn)->nGeneration; }
size_t CCallCore::Queued(CallConn conn) const { return LinkOf(conn)->queue.Queued(); }
size_t CCallCore::PendingBytes(CallConn conn) const { return (size_t)LinkOf(conn)->reader.PendingBytes(); }

std::vector<CCallEffect> CCallCore::TakeEffects()
{
    std::vector<CCallEffect> out;
    out.swap(m_effects);
    out.insert(out.end(), m_boxes.begin(), m_boxes.end());
    m_boxes.clear();
    return out;
}

int CCallCore::Flush(CallConn conn, const CSendQueue::SendFn& send)
{
    return LinkOf(conn)->queue.Flush(send);
}

size_t CCallCore::WireSize(CallConn conn, size_t nMessage) const
{
    // A sealed message: "E", the base64 of the message and its 16-byte tag, CR.
    if (LinkOf(conn)->secure == Secure::On) return 1 + 4 * ((nMessage + 16 + 2) / 3) + 1;
    return nMessage;
}

bool CCallCore::Queue(CallConn conn, const CString& strMessage)
{
    Link& link = *LinkOf(conn);
    // Once a call is encrypted, every message goes sealed.
    const std::string bytes =
        link.secure == Secure::On ? link.channel.Seal(strMessage.str()) : strMessage.str();
    int nError = 0;
    if (!link.queue.Push(bytes.data(), bytes.size(), HoldAll(m_nWouldBlock), &nError)) {
        Box(kNotReceiving);
        return false;
    }
    Transmit(conn);
    return true;
}

CCallLook CCallCore::Look() const
{
    CCallLook look;
    look.strStatus = kStatusCalling;
    if (m_in.state != InState::Idle) {
        // The call taken is the one shown while it stands.
        look.bCallEnabled = false;
        look.bHangUpEnabled = true;
        look.bAnswerEnabled = m_in.state == InState::Ringing;
        look.bStatusShown = m_in.state == InState::Ringing;
    } else if (OutConnected(m_out.state)) {
        look.bCallEnabled = false;
        look.bHangUpEnabled = true;
        if (m_out.state == OutState::TurnedAway) look.strStatus = kStatusBusy;
        look.bStatusShown = m_out.state != OutState::Talking;
    } else {
        // Idle, or dialling (hang-up cancels it).
        look.bHangUpEnabled = m_out.state == OutState::Dialling;
        look.bStatusShown = m_out.state == OutState::Dialling;
    }
    const Link* pShown = m_in.state != InState::Idle ? (const Link*)&m_in
        : OutConnected(m_out.state)                  ? (const Link*)&m_out
                                                     : nullptr;
    if (pShown) {
        look.bSecureShown = true;
        look.strSecure =
            pShown->secure == Secure::On ? CString(kSecureOn + pShown->channel.Code()) : CString(kSecureOff);
    }
    return look;
}

void CCallCore::Settle(bool bCallEnded)
{
    const CCallLook look = Look();
    if (look != m_look) {
        m_look = look;
        Add(CallFx::Look { look });
    }
    const bool bRing = m_in.state == InState::Ringing;
    if (bRing != m_bRingOn) {
        m_bRingOn = bRing;
        Add(CallFx::Ring { bRing });
    }
    if (bCallEnded && m_in.state == InState::Idle && !OutConnected(m_out.state)) Add(CallFx::ClearLists {});
}

// ---------------------------------------------------------------------------------------------
// The outgoing call

void CCallCore::PressCall(const CString& strAddress, const CString& strPort)
{
    if (OutConnected(m_out.state)) return; // the call button is off while a call stands
    const CString strTo = strAddress.IsEmpty() ? CString(kDefaultAddress) : strAddress;
    const CString strPortTo = strPort.IsEmpty() ? CString(kDefaultPort) : strPort;
    // An earlier attempt still being dialled is dropped for the new one.
    if (m_out.state == OutState::Dialling) Add(CallFx::Close { CallConn::Out });
    m_out.Reset();
    m_out.state = OutState::Dialling;
    Record(CallConn::Out, CallRec::Placed { strTo, strPortTo });
    // As atoi reads it: leading digits, 0 without; above 65535 the socket layer takes it modulo.
    Add(CallFx::Connect { strTo, (unsigned)std::atoi(strPortTo) });
    Settle(false);
}

void CCallCore::DialFailed(int nError)
{
    if (m_out.state != OutState::Dialling) return;
    EndOut(CallEnd::Failed, nError);
    Settle(true);
    ErrorBox(nError);
}

void CCallCore::Connected(int nError, const CString& strPeer)
{
    if (m_out.state != OutState::Dialling) return;
    if (nError) {
        // Refused, unreachable or not found: back to idle with the reason.
        DialFailed(nError);
        return;
    }
    m_out.state = OutState::Calling;
    Record(CallConn::Out, CallRec::Connected { strPeer });
    Settle(false);
}

void CCallCore::EndOut(CallEnd how, int nError)
{
    Record(CallConn::Out, CallRec::Ended { how, nError });
    Add(CallFx::Close { CallConn::Out });
    SettleLine(CallConn::Out, false);
    m_out.Reset();
    m_out.state = OutState::Idle;
}

// ---------------------------------------------------------------------------------------------
// Incoming calls

void CCallCore::ConnectionWaiting()
{
    // A call held (or no calls taken now): the new caller is turned away with the busy message.
    const bool bTurnAway = m_in.state != InState::Idle || m_bDoNotDisturb;
    Add(CallFx::Accept { bTurnAway ? CallConn::Busy : CallConn::In });
}

void CCallCore::Accepted(CallConn conn, const CString& strPeer, const CString& strMyName)
{
    if (conn == CallConn::Busy) {
        // The busy socket that was there is replaced (the window closed it for the new one).
        m_busy.Reset();
        m_bBusyOpen = true;
        Queue(CallConn::Busy, ComposeBusy(strMyName));
        Record(CallConn::Busy, CallRec::TurnedAway { strPeer, m_in.state != InState::Idle });
        return;
    }
    if (conn != CallConn::In) return;
    m_in.Reset();
    m_in.state = InState::Ringing;
    const CString strGreeting = ComposeCalleeGreeting(strMyName);
    m_in.strCalleeGreeting = strGreeting.str();
    Queue(CallConn::In, strGreeting);
    Record(CallConn::In, CallRec::Incoming { strPeer });
    Settle(false);
    m_boxes.emplace_back(CallFx::NotifyIncoming {});
}

void CCallCore::AcceptFailed(CallConn conn, int nError)
{
    if (conn == CallConn::Busy) m_bBusyOpen = false;
    ErrorBox(nError);
}

void CCallCore::PressAnswer()
{
    if (m_in.state != InState::Ringing) return;
    // A caller that offered no key by now talks plain.
    if (m_in.secure != Secure::On && !Decide(CallConn::In, false)) return;
    Queue(CallConn::In, ComposeAnswer());
    m_in.state = InState::Talking;
    Settle(false);
    Record(CallConn::In, CallRec::Answered {});
}

void CCallCore::EndIn(CallEnd how)
{
    Record(CallConn::In, CallRec::Ended { how, 0 });
    Add(CallFx::Close { CallConn::In });
    SettleLine(CallConn::In, false);
    m_in.Reset();
    m_in.state = InState::Idle;
}

void CCallCore::End(CallConn conn, CallEnd how)
{
    if (conn == CallConn::Out)
        EndOut(how);
    else
        EndIn(how);
    Settle(true);
}

bool CCallCore::Decide(CallConn conn, bool bSecure)
{
    Link& link = *LinkOf(conn);
    link.secure = bSecure ? Secure::On : Secure::Plain;
    Record(conn, CallRec::Secured { bSecure ? CString(link.channel.Code()) : CString() });
    if (!bSecure && m_bRequireSecure) {
        End(conn, CallEnd::NotSecure);
        Box(kNotSecure);
        return false;
    }
    Settle(false);
    return true;
}

void CCallCore::Tampered(CallConn conn)
{
    End(conn, CallEnd::Tampered);
    Box(kTampered);
}

// ---------------------------------------------------------------------------------------------
// Either call

void CCallCore::PressHangUp()
{
    // Hanging up ends every call that stands, and cancels one still being dialled. Nothing is
    // sent: the partner learns of it from the closed connection.
    if (m_out.state != OutState::Idle)
        EndOut(m_out.state == OutState::Dialling ? CallEnd::Cancelled : CallEnd::HungUp);
    if (m_in.state != InState::Idle)
        EndIn(m_in.state == InState::Ringing ? CallEnd::Refused : CallEnd::HungUp);
    Settle(true);
}

void CCallCore::Closed(CallConn conn)
{
    switch (conn) {
    case CallConn::Out:
        if (m_out.state == OutState::Idle) return;
        EndOut(CallEnd::PartnerHungUp);
        break;
    case CallConn::In:
        if (m_in.state == InState::Idle) return;
        // Rang and ended before anyone answered: a missed call.
        EndIn(m_in.state == InState::Ringing ? CallEnd::Missed : CallEnd::PartnerHungUp);
        break;
    case CallConn::Busy:
        if (!m_bBusyOpen) return;
        m_bBusyOpen = false;
        m_busy.Reset();
        Add(CallFx::Close { CallConn::Busy });
        return;
    }
    Settle(true);
}

void CCallCore::PressEnter(const CString& strText)
{
    // Enter sends the typed line; it never closes the window.
    const bool bOut = m_out.state == OutState::Talking || m_out.state == OutState::TurnedAway;
    const bool bIn = m_in.state == InState::Talking;
    if (!bOut && !bIn) return;

    // A line goes to every call that stands, or to none: if one partner has not taken enough of
    // what waits, the line stays in the edit and the user is told.
    const CString strMessage = ComposeText(strText);
    std::vector<CallConn> targets;
    if (OutConnected(m_out.state)) targets.push_back(CallConn::Out);
    if (m_in.state != InState::Idle) targets.push_back(CallConn::In);
    for (CallConn conn : targets) {
        if (!LinkOf(conn)->queue.Fits(WireSize(conn, (size_t)strMessage.GetLength()))) {
            // Refused before anything is sealed or queued: the call goes on as it was.
            Box(kNotReceiving);
            return;
        }
    }
    for (CallConn conn : targets) Queue(conn, strMessage);
    // Listed once a partner has taken it: the window reports each connection's flush.
    m_typed = TypedLine { strText, targets, targets.front(), false };
}

void CCallCore::Flushed(CallConn conn, int nError)
{
    if (nError) ErrorBox(nError);
    SettleLine(conn, nError == 0);
}

void CCallCore::SettleLine(CallConn conn, bool bTaken)
{
    std::vector<CallConn>& waiting = m_typed.waiting;
    const auto it = std::find(waiting.begin(), waiting.end(), conn);
    if (it == waiting.end()) return;
    waiting.erase(it);
    m_typed.bTaken = m_typed.bTaken || bTaken;
    if (!waiting.empty() || !m_typed.bTaken) return;
    // A line that no partner could be sent stays in the edit and is not listed.
    Add(CallFx::ListSent { m_typed.strText });
    Record(m_typed.first, CallRec::Sent { m_typed.strText });
}

// ---------------------------------------------------------------------------------------------
// Receiving

size_t CCallCore::Received(CallConn conn, const char* pData, int nLength, const CString& strMyName)
{
    if (conn == CallConn::Busy) return 0; // a caller turned away is not listened to
    Link& link = *LinkOf(conn);
    if (conn == CallConn::Out ? !OutConnected(m_out.state) : m_in.state == InState::Idle) return 0;
    const size_t nBefore = m_nLinesTaken;
    const unsigned nGeneration = link.nGeneration;
    std::vector<CLineMessage> messages;
    std::vector<CString> batch;
    for (int nDone = 0; nDone < nLength && link.nGeneration == nGeneration; nDone += kReaderPiece) {
        messages.clear();
        link.reader.Feed(pData + nDone, std::min(kReaderPiece, nLength - nDone), messages);
        for (const CLineMessage& msg : messages) {
            if (link.nGeneration != nGeneration) break;
            Apply(conn, msg, strMyName, batch);
        }
    }
    if (link.nGeneration == nGeneration) ListBatch(conn, batch);
    return m_nLinesTaken - nBefore;
}

void CCallCore::ListBatch(CallConn conn, std::vector<CString>& batch)
{
    if (batch.empty()) return;
    m_nLinesTaken += batch.size();
    // Right behind the lines of an earlier read: one batch.
    const size_t n = m_effects.size();
    auto* pList = n >= 2 ? std::get_if<CallFx::ListReceived>(&m_effects[n - 2]) : nullptr;
    auto* pRec = n >= 2 ? std::get_if<CallFx::Record>(&m_effects[n - 1]) : nullptr;
    auto* pReceived = pRec ? std::get_if<CallRec::Received>(&pRec->what) : nullptr;
    if (pList && pReceived && pList->conn == conn && pList->nGeneration == LinkOf(conn)->nGeneration) {
        pList->lines.insert(pList->lines.end(), batch.begin(), batch.end());
        pReceived->lines.insert(pReceived->lines.end(), batch.begin(), batch.end());
        batch.clear();
        return;
    }
    Add(CallFx::ListReceived { conn, LinkOf(conn)->nGeneration, batch });
    Record(conn, CallRec::Received { std::move(batch) });
    batch.clear();
}

bool CCallCore::Unseal(CallConn conn, const CLineMessage& msg, CLineMessage* pPlain)
{
    Link& link = *LinkOf(conn);
    *pPlain = msg;
    if (msg.kind == CLineMessage::Frame) {
        // Before the key lines, a frame is nobody's; after them it must open, as the next one.
        if (link.secure == Secure::Offered) return Tampered(conn), false;
        if (link.secure != Secure::On) {
            pPlain->kind = CLineMessage::Other;
            return true;
        }
        std::string message;
        if (!link.channel.Open(msg.strPayload.str(), &message)) return Tampered(conn), false;
        const size_t n = message.size();
        if (n >= 2 && message[0] == 'S') {
            pPlain->kind = CLineMessage::Text;
            pPlain->strPayload = CString(message.substr(1, n - 2));
        } else if (message == "C\r") {
            pPlain->kind = CLineMessage::Answer;
        } else {
            return Tampered(conn), false;
        }
    } else if (link.secure == Secure::On &&
        (msg.kind == CLineMessage::Text || msg.kind == CLineMessage::Answer ||
            msg.kind == CLineMessage::Busy || msg.kind == CLineMessage::Other)) {
        // A plain message, or any other line, inside an encrypted call was put there on the way.
        return Tampered(conn), false;
    }
    return true;
}

void CCallCore::Apply(
    CallConn conn, const CLineMessage& msg, const CString& strMyName, std::vector<CString>& batch)
{
    CLineMessage plain;
    if (!Unseal(conn, msg, &plain)) return;
    if (plain.kind == CLineMessage::Text && LinkOf(conn)->secure != Secure::Offered) {
        batch.push_back(plain.strPayload);
        return;
    }
    // Lines listed before what follows them.
    ListBatch(conn, batch);
    switch (plain.kind) {
    case CLineMessage::Text:
        // The caller offered and the callee talks plain: an older program.
        if (Decide(conn, false)) batch.push_back(plain.strPayload);
        break;
    case CLineMessage::CalleeName:
        TakeCalleeGreeting(conn, plain.strPayload, strMyName);
        break;
    case CLineMessage::CallerName:
        TakeCallerGreeting(conn, plain.strPayload);
        break;
    case CLineMessage::KeyCommit:
        TakeKeyOffer(conn, plain.strPayload);
        break;
    case CLineMessage::KeyReveal:
        TakeReveal(conn, plain.strPayload);
        break;
    case CLineMessage::KeyAnswer:
        TakeKeyAnswer(conn, plain.strPayload);
        break;
    case CLineMessage::Answer:
        TakeAnswer(conn);
        break;
    case CLineMessage::Busy:
        TakeBusy(conn);
        break;
    case CLineMessage::Frame:
    case CLineMessage::Other:
        break;
    }
}

void CCallCore::TakeCalleeGreeting(CallConn conn, const CString& strName, const CString& strMyName)
{
    Link& link = *LinkOf(conn);
    Add(CallFx::PartnerName { conn, link.nGeneration, strName, false });
    // The reply goes back on the connection the greeting came from.
    const CString strGreeting = ComposeCallerGreeting(strMyName);
    Queue(conn, strGreeting);
    Record(conn, CallRec::Named { strName });
    // The caller offers a key right after its greeting; an older callee ignores the line.
    if (conn == CallConn::Out && link.secure == Secure::None && link.channel.Start(CSecureChannel::Caller)) {
        link.strCallerGreeting = strGreeting.str();
        link.strCalleeGreeting = ComposeCalleeGreeting(strName).str();
        Queue(conn, CString(link.channel.CommitLine()));
        link.secure = Secure::Offered;
    }
}

void CCallCore::TakeCallerGreeting(CallConn conn, const CString& strName)
{
    Link& link = *LinkOf(conn);
    Add(CallFx::PartnerName { conn, link.nGeneration, strName, true });
    Record(conn, CallRec::Named { strName });
    link.strCallerGreeting = ComposeCallerGreeting(strName).str();
}

void CCallCore::TakeKeyOffer(CallConn conn, const CString& strLine)
{
    // Taken while the call rings and is plain so far; the key line in answer goes out plain,
    // everything after it sealed.
    Link& link = *LinkOf(conn);
    if (conn != CallConn::In || m_in.state != InState::Ringing || link.secure != Secure::None ||
        link.strCallerGreeting.empty())
        return;
    if (!link.channel.Start(CSecureChannel::Callee)) return;
    if (!link.channel.TakeCommit(strLine.str())) return Tampered(conn);
    Queue(conn, CString(link.channel.KeyLine()));
    link.secure = Secure::Offered;
}

void CCallCore::TakeReveal(CallConn conn, const CString& strLine)
{
    Link& link = *LinkOf(conn);
    if (conn != CallConn::In || link.secure != Secure::Offered) return;
    if (!link.channel.Complete(strLine.str(), link.strCallerGreeting, link.strCalleeGreeting))
        return Tampered(conn);
    Decide(conn, true);
}

void CCallCore::TakeKeyAnswer(CallConn conn, const CString& strLine)
{
    Link& link = *LinkOf(conn);
    if (conn != CallConn::Out || link.secure != Secure::Offered) return;
    if (!link.channel.Complete(strLine.str(), link.strCallerGreeting, link.strCalleeGreeting))
        return Tampered(conn);
    Queue(conn, CString(link.channel.KeyLine()));
    Decide(conn, true);
}

void CCallCore::TakeAnswer(CallConn conn)
{
    if (conn != CallConn::Out) return;
    if (m_out.secure == Secure::Offered && !Decide(conn, false)) return;
    m_out.state = OutState::Talking;
    Record(conn, CallRec::PartnerAnswered {});
    Settle(false);
}

void CCallCore::TakeBusy(CallConn conn)
{
    if (conn != CallConn::Out) return;
    if (m_out.secure == Secure::Offered) m_out.secure = Secure::Plain;
    m_out.state = OutState::TurnedAway;
    Record(conn, CallRec::PartnerBusy {});
    Settle(false);
}
