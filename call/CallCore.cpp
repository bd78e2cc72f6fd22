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

CCallEffect& CCallCore::Add(CCallEffect::Kind kind, CallConn conn)
{
    m_effects.emplace_back();
    m_effects.back().kind = kind;
    m_effects.back().conn = conn;
    m_effects.back().nGeneration = LinkOf(conn)->nGeneration;
    return m_effects.back();
}

void CCallCore::Record(CCallEffect::Event event, CallConn conn, const CString& strText)
{
    CCallEffect& e = Add(CCallEffect::Record, conn);
    e.event = event;
    e.strText = strText;
}

void CCallCore::RecordEnd(CallConn conn, CallEnd how, int nError)
{
    CCallEffect& e = Add(CCallEffect::Record, conn);
    e.event = CCallEffect::Ended;
    e.nCode = (int)how;
    e.nExtra = nError;
}

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
        CCallEffect box;
        box.kind = CCallEffect::ShowText;
        box.strText = kNotReceiving;
        AddBox(box);
        return false;
    }
    Add(CCallEffect::Transmit, conn);
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
        Add(CCallEffect::Look);
    }
    const bool bRing = m_in.state == InState::Ringing;
    if (bRing != m_bRingOn) {
        m_bRingOn = bRing;
        Add(CCallEffect::Ring, CallConn::In).bOn = bRing;
    }
    if (bCallEnded && m_in.state == InState::Idle && !OutConnected(m_out.state)) Add(CCallEffect::ClearLists);
}

// ---------------------------------------------------------------------------------------------
// The outgoing call

void CCallCore::PressCall(const CString& strAddress, const CString& strPort)
{
    if (OutConnected(m_out.state)) return; // the call button is off while a call stands
    const CString strTo = strAddress.IsEmpty() ? CString(kDefaultAddress) : strAddress;
    const CString strPortTo = strPort.IsEmpty() ? CString(kDefaultPort) : strPort;
    // An earlier attempt still being dialled is dropped for the new one.
    if (m_out.state == OutState::Dialling) Add(CCallEffect::Close, CallConn::Out);
    m_out.Reset();
    m_out.state = OutState::Dialling;
    CCallEffect& placed = Add(CCallEffect::Record, CallConn::Out);
    placed.event = CCallEffect::Placed;
    placed.strText = strTo;
    placed.strExtra = strPortTo;
    CCallEffect& connect = Add(CCallEffect::Connect, CallConn::Out);
    connect.strText = strTo;
    connect.nCode = std::atoi(strPortTo);
    Settle(false);
}

void CCallCore::DialFailed(int nError)
{
    if (m_out.state != OutState::Dialling) return;
    EndOut(CallEnd::Failed, nError);
    Settle(true);
    CCallEffect box;
    box.kind = CCallEffect::ShowError;
    box.nCode = nError;
    AddBox(box);
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
    Record(CCallEffect::Connected, CallConn::Out, strPeer);
    Settle(false);
}

void CCallCore::EndOut(CallEnd how, int nError)
{
    RecordEnd(CallConn::Out, how, nError);
    Add(CCallEffect::Close, CallConn::Out);
    m_out.Reset();
    m_out.state = OutState::Idle;
}

// ---------------------------------------------------------------------------------------------
// Incoming calls

void CCallCore::ConnectionWaiting()
{
    // A call held (or no calls taken now): the new caller is turned away with the busy message.
    const bool bTurnAway = m_in.state != InState::Idle || m_bDoNotDisturb;
    Add(CCallEffect::Accept, bTurnAway ? CallConn::Busy : CallConn::In);
}

void CCallCore::Accepted(CallConn conn, const CString& strPeer, const CString& strMyName)
{
    if (conn == CallConn::Busy) {
        // The busy socket that was there is replaced (the window closed it for the new one).
        m_busy.Reset();
        m_bBusyOpen = true;
        Queue(CallConn::Busy, ComposeBusy(strMyName));
        CCallEffect& e = Add(CCallEffect::Record, CallConn::Busy);
        e.event = CCallEffect::TurnedAway;
        e.strText = strPeer;
        e.bOn = m_in.state != InState::Idle;
        return;
    }
    if (conn != CallConn::In) return;
    m_in.Reset();
    m_in.state = InState::Ringing;
    const CString strGreeting = ComposeCalleeGreeting(strMyName);
    m_in.strCalleeGreeting = strGreeting.str();
    Queue(CallConn::In, strGreeting);
    Record(CCallEffect::Incoming, CallConn::In, strPeer);
    Settle(false);
    CCallEffect box;
    box.kind = CCallEffect::NotifyIncoming;
    box.conn = CallConn::In;
    AddBox(box);
}

void CCallCore::AcceptFailed(CallConn conn, int nError)
{
    if (conn == CallConn::Busy) m_bBusyOpen = false;
    CCallEffect box;
    box.kind = CCallEffect::ShowError;
    box.conn = conn;
    box.nCode = nError;
    AddBox(box);
}

void CCallCore::PressAnswer()
{
    if (m_in.state != InState::Ringing) return;
    // A caller that offered no key by now talks plain.
    if (m_in.secure != Secure::On && !Decide(CallConn::In, false)) return;
    Queue(CallConn::In, ComposeAnswer());
    m_in.state = InState::Talking;
    Settle(false);
    Record(CCallEffect::Answered, CallConn::In);
}

void CCallCore::EndIn(CallEnd how)
{
    RecordEnd(CallConn::In, how);
    Add(CCallEffect::Close, CallConn::In);
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
    Record(CCallEffect::Secured, conn, bSecure ? CString(link.channel.Code()) : CString());
    if (!bSecure && m_bRequireSecure) {
        End(conn, CallEnd::NotSecure);
        CCallEffect box;
        box.kind = CCallEffect::ShowText;
        box.strText = kNotSecure;
        AddBox(box);
        return false;
    }
    Settle(false);
    return true;
}

void CCallCore::Tampered(CallConn conn)
{
    End(conn, CallEnd::Tampered);
    CCallEffect box;
    box.kind = CCallEffect::ShowText;
    box.strText = kTampered;
    AddBox(box);
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
        Add(CCallEffect::Close, CallConn::Busy);
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
            Queue(conn, strMessage); // refused: tells the user
            return;
        }
    }
    for (CallConn conn : targets) Queue(conn, strMessage);
    Add(CCallEffect::ListSent).strText = strText;
    Record(CCallEffect::Sent, targets.front(), strText);
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
    if (n >= 2 && m_effects[n - 2].kind == CCallEffect::ListReceived &&
        m_effects[n - 1].kind == CCallEffect::Record && m_effects[n - 1].event == CCallEffect::Received &&
        m_effects[n - 2].conn == conn && m_effects[n - 2].nGeneration == LinkOf(conn)->nGeneration) {
        m_effects[n - 2].lines.insert(m_effects[n - 2].lines.end(), batch.begin(), batch.end());
        m_effects[n - 1].lines.insert(m_effects[n - 1].lines.end(), batch.begin(), batch.end());
        batch.clear();
        return;
    }
    CCallEffect& list = Add(CCallEffect::ListReceived, conn);
    list.lines = batch;
    CCallEffect& rec = Add(CCallEffect::Record, conn);
    rec.event = CCallEffect::Received;
    rec.lines.swap(batch);
}

void CCallCore::Apply(
    CallConn conn, const CLineMessage& msg, const CString& strMyName, std::vector<CString>& batch)
{
    Link& link = *LinkOf(conn);
    CLineMessage plain = msg;
    if (msg.kind == CLineMessage::Frame) {
        // Before the key lines, a frame is nobody's; after them it must open, as the next one.
        if (link.secure == Secure::Offered) return Tampered(conn);
        if (link.secure != Secure::On) return;
        std::string message;
        if (!link.channel.Open(msg.strPayload.str(), &message)) return Tampered(conn);
        const size_t n = message.size();
        if (n >= 2 && message[0] == 'S') {
            plain.kind = CLineMessage::Text;
            plain.strPayload = CString(message.substr(1, n - 2));
        } else if (message == "C\r") {
            plain.kind = CLineMessage::Answer;
        } else {
            return Tampered(conn);
        }
    } else if (link.secure == Secure::On &&
        (msg.kind == CLineMessage::Text || msg.kind == CLineMessage::Answer ||
            msg.kind == CLineMessage::Busy || msg.kind == CLineMessage::Other)) {
        // A plain message, or any other line, inside an encrypted call was put there on the way.
        return Tampered(conn);
    }

    if (plain.kind == CLineMessage::Text && link.secure != Secure::Offered) {
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
    case CLineMessage::CalleeName: {
        CCallEffect& name = Add(CCallEffect::PartnerName, conn);
        name.strText = plain.strPayload;
        // The reply goes back on the connection the greeting came from.
        const CString strGreeting = ComposeCallerGreeting(strMyName);
        Queue(conn, strGreeting);
        Record(CCallEffect::Named, conn, plain.strPayload);
        // The caller offers a key right after its greeting; an older callee ignores the line.
        if (conn == CallConn::Out && link.secure == Secure::None &&
            link.channel.Start(CSecureChannel::Caller)) {
            link.strCallerGreeting = strGreeting.str();
            link.strCalleeGreeting = ComposeCalleeGreeting(plain.strPayload).str();
            Queue(conn, CString(link.channel.CommitLine()));
            link.secure = Secure::Offered;
        }
        break;
    }
    case CLineMessage::CallerName: {
        CCallEffect& name = Add(CCallEffect::PartnerName, conn);
        name.strText = plain.strPayload;
        name.bOn = true;
        Record(CCallEffect::Named, conn, plain.strPayload);
        link.strCallerGreeting = ComposeCallerGreeting(plain.strPayload).str();
        break;
    }
    case CLineMessage::KeyCommit:
        // Taken while the call rings and is plain so far; the answer line goes out plain, and
        // the caller's reveal must match the commitment.
        if (conn != CallConn::In || m_in.state != InState::Ringing || link.secure != Secure::None ||
            link.strCallerGreeting.empty())
            break;
        if (!link.channel.Start(CSecureChannel::Callee)) break;
        if (!link.channel.TakeCommit(plain.strPayload.str())) return Tampered(conn);
        Queue(conn, CString(link.channel.KeyLine()));
        link.secure = Secure::Offered;
        break;
    case CLineMessage::KeyReveal:
        if (conn != CallConn::In || link.secure != Secure::Offered) break;
        if (!link.channel.Complete(plain.strPayload.str(), link.strCallerGreeting, link.strCalleeGreeting))
            return Tampered(conn);
        Decide(conn, true);
        break;
    case CLineMessage::KeyAnswer:
        if (conn != CallConn::Out || link.secure != Secure::Offered) break;
        if (!link.channel.Complete(plain.strPayload.str(), link.strCallerGreeting, link.strCalleeGreeting))
            return Tampered(conn);
        Queue(conn, CString(link.channel.KeyLine()));
        Decide(conn, true);
        break;
    case CLineMessage::Answer:
        if (conn != CallConn::Out) break;
        if (link.secure == Secure::Offered && !Decide(conn, false)) break;
        m_out.state = OutState::Talking;
        Record(CCallEffect::PartnerAnswer, conn);
        Settle(false);
        break;
    case CLineMessage::Busy:
        if (conn != CallConn::Out) break;
        if (link.secure == Secure::Offered) link.secure = Secure::Plain;
        m_out.state = OutState::TurnedAway;
        Record(CCallEffect::PartnerBusy, conn);
        Settle(false);
        break;
    case CLineMessage::Frame:
    case CLineMessage::Other:
        break;
    }
}
