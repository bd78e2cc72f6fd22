#include "call/CallCore.h"

#include <algorithm>
#include <cstdlib>

namespace {

const char kStatusCalling[] = "呼び出し中";
const char kStatusBusy[] = "話し中";

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

bool CCallCore::Queue(CallConn conn, const CString& strMessage)
{
    Link& link = *LinkOf(conn);
    int nError = 0;
    if (!link.queue.Push(strMessage, (size_t)strMessage.GetLength(), HoldAll(m_nWouldBlock), &nError)) {
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
    Queue(CallConn::In, ComposeCalleeGreeting(strMyName));
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
        if (!LinkOf(conn)->queue.Fits((size_t)strMessage.GetLength())) {
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

void CCallCore::Received(CallConn conn, const char* pData, int nLength, const CString& strMyName)
{
    if (conn == CallConn::Busy) return; // a caller turned away is not listened to
    Link& link = *LinkOf(conn);
    if (conn == CallConn::Out ? !OutConnected(m_out.state) : m_in.state == InState::Idle) return;
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
}

void CCallCore::ListBatch(CallConn conn, std::vector<CString>& batch)
{
    if (batch.empty()) return;
    CCallEffect& list = Add(CCallEffect::ListReceived, conn);
    list.lines = batch;
    CCallEffect& rec = Add(CCallEffect::Record, conn);
    rec.event = CCallEffect::Received;
    rec.lines.swap(batch);
}

void CCallCore::Apply(
    CallConn conn, const CLineMessage& msg, const CString& strMyName, std::vector<CString>& batch)
{
    if (msg.kind == CLineMessage::Text) {
        batch.push_back(msg.strPayload);
        return;
    }
    // Lines listed before what follows them.
    ListBatch(conn, batch);
    switch (msg.kind) {
    case CLineMessage::Text:
        break;
    case CLineMessage::CalleeName: {
        CCallEffect& name = Add(CCallEffect::PartnerName, conn);
        name.strText = msg.strPayload;
        // The reply goes back on the connection the greeting came from.
        Queue(conn, ComposeCallerGreeting(strMyName));
        Record(CCallEffect::Named, conn, msg.strPayload);
        break;
    }
    case CLineMessage::CallerName: {
        CCallEffect& name = Add(CCallEffect::PartnerName, conn);
        name.strText = msg.strPayload;
        name.bOn = true;
        Record(CCallEffect::Named, conn, msg.strPayload);
        break;
    }
    case CLineMessage::Answer:
        if (conn != CallConn::Out) break;
        m_out.state = OutState::Talking;
        Record(CCallEffect::PartnerAnswer, conn);
        Settle(false);
        break;
    case CLineMessage::Busy:
        if (conn != CallConn::Out) break;
        m_out.state = OutState::TurnedAway;
        Record(CCallEffect::PartnerBusy, conn);
        Settle(false);
        break;
    }
}
