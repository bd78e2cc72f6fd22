#include "call/CallCore.h"

#include <algorithm>
#include <cstdlib>

namespace {

const char kStatusCalling[] = "呼び出し中";
const char kStatusBusy[] = "話し中";
const char kStatusAway[] = "留守録中";

// The answering machine's last line, at the bounds of a message.
const char kMessageTaken[] = "メッセージをお預かりしました。";
// While away, the machine answers once the caller has said its name; a caller that says none is
// answered after this long.
const int kAwayNameMs = 3000;

// A secure call that ends for what came over the wire, and the look of encryption.
const char kTampered[] =
    "通話の内容が途中で書き換えられたため、通話を終了しました。受け取った内容は表示していません。";
const char kNotSecure[] =
    "相手が暗号化に対応していないか、途中で暗号化が外された可能性があるため、通話を終了しました。";
// The cryptography library cannot start: said once, and calls talk plain (or end, with the option).
const char kNoLibrary[] = "暗号化の準備ができなかったため、暗号化せずに通話します。";
const char kNoLibraryEnd[] = "暗号化の準備ができなかったため、通話を終了しました。";
// An encrypted call's connection closed without the partner's sealed hang-up.
const char kCut[] = "回線が切れたため、通話を終了しました。";
const char kSecureOn[] = "暗号化 ";
const char kSecureOff[] = "暗号化なし";
// Verified contacts: the display of a verified partner, the mark of one that is not who it looks
// like, and the warning's box.
const char kSecureVerified[] = "暗号化 確認済み";
const char kKeyChangedMark[] = " ※鍵が違います";
const char kKeyWarningHead[] = "この相手は、確認済みの相手と名前か宛先が同じですが、";
const char kKeyWarningOther[] = "確認したときとは違う鍵で本人であることを示しました。";
const char kKeyWarningNone[] = "本人であることを示す鍵を示しませんでした。";
const char kKeyWarningPlain[] = "暗号化せずにかかってきたか、応答しました。";
const char kKeyWarningTail[] =
    "\r\n\r\n別の人がなりすましている可能性があります。番号を読み合わせて、もう一度確認してください。";

// How long the callee waits for the caller's reveal after its answer line.
const int kRevealMs = 10000;

// The sealed hang-up's plain message.
const char kHangUp[] = "X\r";

// Why Enter sent nothing to a call that talks.
const char kNotSentPlain[] = "暗号化されていない通話のため、送りませんでした。暗号化しない相手とも話すには、"
                             "メニューの「暗号化しない相手とは話さない」を外してください。";
const char kNotSentYet[] =
    "暗号化の準備がまだ終わっていないため、送りませんでした。少し待ってから、もう一度送ってください。";
const char kNotSentEnded[] = "相手が通話を切ったため、送りませんでした。";
const char kTooLong[] = "長すぎる行があるため、送りませんでした。1 行は 49131 バイトまでです。";
// The call button while an encrypted call was taken: a second call would stand beside it.
const char kNoSecondCall[] = "暗号化された通話の間は、ほかの相手にかけられません。";

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

// A typed text as the lines it sends: each CR (with a line feed right after it) ends one; a
// break at the very end starts no empty line of its own.
std::vector<CString> SplitLines(const CString& strText)
{
    const std::string& s = strText.str();
    std::vector<CString> lines;
    size_t start = 0;
    for (;;) {
        const size_t cr = s.find('\r', start);
        lines.push_back(CString(s.substr(start, cr == std::string::npos ? std::string::npos : cr - start)));
        if (cr == std::string::npos) break;
        start = cr + 1 + (cr + 1 < s.size() && s[cr + 1] == '\n' ? 1 : 0);
        if (start == s.size()) break;
    }
    return lines;
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
    bTimer = bBusyText = bSealedEnd = bGoodbye = bGreeted = false;
    bMachineTimer = bMachine = false;
    nMachineLines = 0;
    bVersionSent = bPeerV3 = bProofDue = bWarningOpen = false;
    trust = Trust::Unknown;
    strPeerFingerprint.clear();
    strPartnerName.Empty();
    strPlace.Empty();
    strPort.Empty();
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
    // Room first: a message the queue refuses must not use up a frame number, or the partner
    // would take the next frame for a changed one.
    if (!link.queue.Fits(WireSize(conn, (size_t)strMessage.GetLength()))) {
        Box(kNotReceiving);
        return false;
    }
    // Once a call is encrypted, every message goes sealed.
    const std::string bytes =
        link.secure == Secure::On ? link.channel.Seal(strMessage.str()) : strMessage.str();
    int nError = 0;
    if (bytes.empty() || !link.queue.Push(bytes.data(), bytes.size(), HoldAll(m_nWouldBlock), &nError))
        return false;
    Transmit(conn);
    return true;
}

void CCallCore::SetTimer(CallConn conn, bool bOn)
{
    Link& link = *LinkOf(conn);
    if (link.bTimer == bOn) return;
    link.bTimer = bOn;
    Add(CallFx::Timer { conn, bOn, kRevealMs });
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
        if (m_in.bMachine && m_in.state == InState::Talking) {
            // The machine takes a message: the window says so until the user takes the call over.
            look.bStatusShown = true;
            look.strStatus = kStatusAway;
        }
    } else if (OutConnected(m_out.state)) {
        look.bCallEnabled = false;
        look.bHangUpEnabled = true;
        if (m_out.state == OutState::TurnedAway || m_out.bBusyText) look.strStatus = kStatusBusy;
        look.bStatusShown = m_out.state != OutState::Talking;
    } else {
        // Idle, or dialling (hang-up cancels it).
        look.bHangUpEnabled = m_out.state == OutState::Dialling;
        look.bStatusShown = m_out.state == OutState::Dialling;
    }
    const Link* pShown = Shown();
    if (pShown) {
        look.bSecureShown = true;
        const bool bOn = pShown->secure == Secure::On;
        look.strSecure = bOn ? CString(kSecureOn + pShown->channel.Code()) : CString(kSecureOff);
        if (bOn && pShown->trust == Trust::Verified) look.strSecure = kSecureVerified;
        if (pShown->trust == Trust::Changed) look.strSecure += kKeyChangedMark;
        look.bVerifyShown = bOn && !pShown->bProofDue && !pShown->strPeerFingerprint.empty() &&
            pShown->trust != Trust::Verified;
    }
    return look;
}

const CCallCore::Link* CCallCore::Shown() const
{
    return m_in.state != InState::Idle ? (const Link*)&m_in
        : OutConnected(m_out.state)    ? (const Link*)&m_out
                                       : nullptr;
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
    // Nothing may stand beside an encrypted call: its code vouches for every line listed.
    if (Keyed(m_in)) return Box(kNoSecondCall);
    const CString strTo = strAddress.IsEmpty() ? CString(kDefaultAddress) : strAddress;
    const CString strPortTo = strPort.IsEmpty() ? CString(kDefaultPort) : strPort;
    // An earlier attempt still being dialled is dropped for the new one.
    if (m_out.state == OutState::Dialling) Add(CallFx::Close { CallConn::Out, CString() });
    m_out.Reset();
    m_out.state = OutState::Dialling;
    m_out.strPlace = strTo;
    m_out.strPort = strPortTo;
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
    AddClose(CallConn::Out);
    SettleLine(CallConn::Out, false);
    m_out.Reset();
    m_out.state = OutState::Idle;
}

// ---------------------------------------------------------------------------------------------
// Incoming calls

void CCallCore::ConnectionWaiting()
{
    // A call held, an outgoing call that encrypts or agrees its keys (a second call's lines would
    // be listed under its code), or no calls taken now: the new caller is turned away with the
    // busy message.
    const bool bTurnAway = m_in.state != InState::Idle || Keyed(m_out) || m_bDoNotDisturb;
    Add(CallFx::Accept { bTurnAway ? CallConn::Busy : CallConn::In });
}

void CCallCore::Accepted(CallConn conn, const CString& strPeer, const CString& strMyName)
{
    if (conn == CallConn::Busy) {
        // The busy socket that was there is replaced (the window closed it for the new one).
        m_busy.Reset();
        m_bBusyOpen = true;
        Queue(CallConn::Busy, ComposeBusy(strMyName));
        Record(CallConn::Busy, CallRec::TurnedAway { strPeer, m_in.state != InState::Idle || Keyed(m_out) });
        return;
    }
    if (conn != CallConn::In) return;
    m_in.Reset();
    m_in.state = InState::Ringing;
    m_in.strPlace = strPeer;
    const CString strGreeting = ComposeCalleeGreeting(strMyName);
    m_in.strCalleeGreeting = strGreeting.str();
    Queue(CallConn::In, strGreeting);
    Record(CallConn::In, CallRec::Incoming { strPeer });
    Settle(false);
    // The answering machine waits for the caller's name (while away) or rings first. While the
    // user talks on an outgoing call, the user is there: the call rings as any other.
    const bool bMachine = (m_bAway || m_nAnswerAfter > 0) && !OutConnected(m_out.state);
    if (bMachine) SetMachineTimer(true, m_bAway ? kAwayNameMs : m_nAnswerAfter * 1000);
    if (!bMachine || !m_bAway) m_boxes.emplace_back(CallFx::NotifyIncoming {});
}

void CCallCore::AcceptFailed(CallConn conn, int nError)
{
    if (conn == CallConn::Busy) m_bBusyOpen = false;
    ErrorBox(nError);
}

void CCallCore::PressAnswer()
{
    if (m_in.state != InState::Ringing) return;
    SetMachineTimer(false, 0);
    // A caller that committed to no key by now talks plain. One that did is waited for: "C" goes
    // as the first frame once its reveal has been checked.
    if (m_in.secure == Secure::None && !Decide(CallConn::In, false)) return;
    if (m_in.secure != Secure::Committed) SendAnswer();
    m_in.state = InState::Talking;
    Settle(false);
    if (m_in.bMachine)
        Record(CallConn::In, CallRec::MachineAnswered {});
    else
        Record(CallConn::In, CallRec::Answered {});
}

void CCallCore::SendAnswer()
{
    Queue(CallConn::In, ComposeAnswer());
    // The machine's greeting: one ordinary line right after the answer.
    if (m_in.bMachine && !m_strAwayText.IsEmpty()) Queue(CallConn::In, ComposeText(m_strAwayText));
}

void CCallCore::SetMachineTimer(bool bOn, int nMs)
{
    if (m_in.bMachineTimer == bOn) return;
    m_in.bMachineTimer = bOn;
    Add(CallFx::Timer { CallConn::In, bOn, nMs, CallTimer::Machine });
}

void CCallCore::MachineAnswer()
{
    if (m_in.state != InState::Ringing) return;
    m_in.bMachine = true;
    m_in.nMachineLines = 0;
    PressAnswer();
    // The answer may have ended the call (a plain caller, with the option to talk encrypted only).
    if (m_in.state == InState::Talking) SetMachineTimer(true, kMessageMs);
}

void CCallCore::MachineTimerExpired()
{
    if (!m_in.bMachineTimer) return;
    m_in.bMachineTimer = false;
    if (m_in.state == InState::Ringing && (m_bAway || m_nAnswerAfter > 0))
        MachineAnswer();
    else if (m_in.bMachine)
        MessageFull();
}

void CCallCore::TakeOver()
{
    m_in.bMachine = false;
    SetMachineTimer(false, 0);
    Record(CallConn::In, CallRec::TakenOver {});
    Settle(false);
}

void CCallCore::MessageFull()
{
    // The last line, and in an encrypted call the sealed hang-up, go right before the close.
    Queue(CallConn::In, ComposeText(kMessageTaken));
    if (m_in.secure == Secure::On && !m_in.bSealedEnd && m_in.queue.Fits(WireSize(CallConn::In, 2)))
        Queue(CallConn::In, kHangUp);
    m_in.bGoodbye = true;
    End(CallConn::In, CallEnd::MessageTaken);
}

void CCallCore::EndIn(CallEnd how)
{
    SetTimer(CallConn::In, false);
    SetMachineTimer(false, 0);
    Record(CallConn::In, CallRec::Ended { how, 0 });
    AddClose(CallConn::In);
    SettleLine(CallConn::In, false);
    m_in.Reset();
    m_in.state = InState::Idle;
}

void CCallCore::AddClose(CallConn conn)
{
    // The queue is emptied with the link: the window sends the sealed hang-up, and what waited
    // before it, right before it closes.
    const Link& link = *LinkOf(conn);
    Add(CallFx::Close { conn, link.bGoodbye ? CString(link.queue.Pending()) : CString() });
}

void CCallCore::End(CallConn conn, CallEnd how)
{
    if (conn == CallConn::Out)
        EndOut(how);
    else
        EndIn(how);
    Settle(true);
}

bool CCallCore::Decide(CallConn conn, bool bSecure, bool bClassify)
{
    Link& link = *LinkOf(conn);
    link.secure = bSecure ? Secure::On : Secure::Plain;
    Record(conn, CallRec::Secured { bSecure ? CString(link.channel.Code()) : CString() });
    if (!bSecure && m_bRequireSecure) {
        End(conn, CallEnd::NotSecure);
        Box(m_bLibraryFailed ? kNoLibraryEnd : kNotSecure);
        return false;
    }
    if (bSecure && link.channel.Version() == 3 && m_pIdentity) {
        // Each side's first frame is its identity proof; nothing typed goes before the partner's.
        Queue(conn, CString(link.channel.ProofMessage(*m_pIdentity)));
        link.bProofDue = true;
    } else if (bClassify) {
        Classify(conn);
    }
    Settle(false);
    return true;
}

void CCallCore::Classify(CallConn conn)
{
    Link& link = *LinkOf(conn);
    const std::string& fp = link.strPeerFingerprint;
    const bool bSecure = link.secure == Secure::On;
    if (m_pContacts && !fp.empty() && m_pContacts->IsVerifiedFingerprint(fp)) {
        link.trust = Trust::Verified;
        Record(conn, CallRec::Trust { CallRec::Trust::Verified, fp });
        return;
    }
    // A verified contact's name or the place it was reached at, without its identity.
    if (m_pContacts &&
        (m_pContacts->HasVerifiedName(link.strPartnerName) ||
            m_pContacts->HasVerifiedPlace(link.strPlace, link.strPort))) {
        link.trust = Trust::Changed;
        link.bWarningOpen = true;
        Record(conn, CallRec::Trust { CallRec::Trust::Changed, fp });
        const char* pszWhy = !bSecure ? kKeyWarningPlain : fp.empty() ? kKeyWarningNone : kKeyWarningOther;
        m_boxes.emplace_back(CallFx::KeyWarning {
            conn, link.nGeneration, CString(kKeyWarningHead) + pszWhy + kKeyWarningTail });
        return;
    }
    if (!bSecure) return;
    link.trust = fp.empty() ? Trust::Unknown : Trust::Unverified;
    Record(conn, CallRec::Trust { fp.empty() ? CallRec::Trust::Missing : CallRec::Trust::Unverified, fp });
}

void CCallCore::PressVerify()
{
    Link* pLink = const_cast<Link*>(Shown());
    if (!pLink || !Look().bVerifyShown) return;
    const CallConn conn = pLink == &m_in ? CallConn::In : CallConn::Out;
    pLink->trust = Trust::Verified;
    CVerifiedContact contact;
    contact.strFingerprint = pLink->strPeerFingerprint;
    contact.strName = pLink->strPartnerName;
    contact.strAddress = pLink->strPlace;
    contact.strPort = pLink->strPort;
    Add(CallFx::Verify { contact });
    Record(conn, CallRec::Trust { CallRec::Trust::VerifiedNow, pLink->strPeerFingerprint });
    Settle(false);
}

void CCallCore::WarningAnswered(CallConn conn, unsigned nGeneration)
{
    if (LinkOf(conn)->nGeneration == nGeneration) LinkOf(conn)->bWarningOpen = false;
}

void CCallCore::Tampered(CallConn conn)
{
    End(conn, CallEnd::Tampered);
    Box(kTampered);
}

bool CCallCore::LibraryFailed(CallConn conn)
{
    if (!m_bLibraryFailed) Box(kNoLibrary);
    m_bLibraryFailed = true;
    return Decide(conn, false);
}

void CCallCore::TimerExpired(CallConn conn)
{
    Link& link = *LinkOf(conn);
    if (!link.bTimer) return;
    link.bTimer = false;
    // No reveal within the time: the commitment is not kept.
    if (link.secure == Secure::Committed) Tampered(conn);
}

void CCallCore::CountMessageLine(CallConn conn, std::vector<CString>& batch)
{
    if (conn != CallConn::In || !m_in.bMachine || ++m_in.nMachineLines < kMessageLines) return;
    // The last line the message holds is listed; the call ends after it.
    ListBatch(conn, batch);
    MessageFull();
}

bool CCallCore::Keyed(const Link& link)
{
    return link.secure == Secure::Offered || link.secure == Secure::Committed || link.secure == Secure::On;
}

bool CCallCore::IsCut(CallConn conn) const
{
    // A close before the call was answered is a refusal or a missed call, as in a plain call.
    const bool bAnswered =
        conn == CallConn::Out ? m_out.state == OutState::Talking : m_in.state == InState::Talking;
    const Link& link = *LinkOf(conn);
    return bAnswered && link.secure == Secure::On && !link.bSealedEnd;
}

void CCallCore::Cut(CallConn conn)
{
    End(conn, CallEnd::Cut);
    Box(kCut);
}

// ---------------------------------------------------------------------------------------------
// Either call

void CCallCore::PressHangUp()
{
    // Hanging up ends every call that stands, and cancels one still being dialled. An encrypted
    // call is sent its sealed hang-up; a plain one learns of it from the closed connection.
    Leave();
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
        if (IsCut(CallConn::Out)) return Cut(CallConn::Out);
        EndOut(CallEnd::PartnerHungUp);
        break;
    case CallConn::In:
        if (m_in.state == InState::Idle) return;
        if (IsCut(CallConn::In)) return Cut(CallConn::In);
        // Rang and ended before anyone answered: a missed call.
        EndIn(m_in.state == InState::Ringing ? CallEnd::Missed : CallEnd::PartnerHungUp);
        break;
    case CallConn::Busy:
        if (!m_bBusyOpen) return;
        m_bBusyOpen = false;
        m_busy.Reset();
        Add(CallFx::Close { CallConn::Busy, CString() });
        return;
    }
    Settle(true);
}

void CCallCore::Leave()
{
    for (CallConn conn : { CallConn::Out, CallConn::In }) {
        Link& link = *LinkOf(conn);
        // A partner that reads nothing has no room for it either; then the close says it all.
        if (link.secure == Secure::On && !link.bSealedEnd && !link.bGoodbye &&
            link.queue.Fits(WireSize(conn, 2)))
            link.bGoodbye = Queue(conn, kHangUp);
    }
}

void CCallCore::PressEnter(const CString& strText)
{
    // Enter sends the typed text; it never closes the window.
    const std::vector<CallConn> targets = SendTargets();
    if (targets.empty()) {
        // A call that talks is told why nothing went; with none, Enter does nothing, as always.
        const CString strWhy = NotSentReason();
        if (!strWhy.IsEmpty()) Box(strWhy);
        return;
    }
    const std::vector<CString> lines = SplitLines(strText);
    // A longer line's frame would pass the partner's bound and end the call there as changed.
    for (const CString& line : lines)
        if (line.GetLength() > kMaxTypedLine) return Box(kTooLong);
    // The lines go to every call they may go to, or to none: if one partner has not taken enough
    // of what waits, the text stays in the edit and the user is told. Refused before anything is
    // sealed or queued: the call goes on as it was.
    if (!RoomFor(targets, lines)) {
        Box(kNotReceiving);
        return;
    }
    // Typing into the machine's call takes it over: an ordinary call from here.
    if (m_in.bMachine && std::find(targets.begin(), targets.end(), CallConn::In) != targets.end()) TakeOver();
    for (const CString& line : lines)
        for (CallConn conn : targets) Queue(conn, ComposeText(line));
    // Listed once a partner has taken them: the window reports each connection's flush.
    m_typed = TypedLine { lines, targets, targets.front(), false };
}

std::vector<CallConn> CCallCore::SendTargets() const
{
    // Nothing typed goes plain to a call still undecided, nor to any call while another one is
    // encrypted; with the option on, only to encrypted calls. The callee's lines wait for its
    // "C", which waits for the caller's reveal.
    const bool bAnyOn = m_out.secure == Secure::On || m_in.secure == Secure::On;
    const auto takes = [&](const Link& link) {
        if (link.bSealedEnd || link.bProofDue || link.bWarningOpen) return false;
        return link.secure == Secure::On || (link.secure == Secure::Plain && !bAnyOn && !m_bRequireSecure);
    };
    std::vector<CallConn> targets;
    if ((m_out.state == OutState::Talking || m_out.state == OutState::TurnedAway) && takes(m_out))
        targets.push_back(CallConn::Out);
    // A plain call that still rings gets the line too while the other call talks.
    const bool bInTakes = m_in.state == InState::Talking ||
        (m_in.state == InState::Ringing && m_in.secure == Secure::Plain && !targets.empty());
    if (bInTakes && takes(m_in)) targets.push_back(CallConn::In);
    return targets;
}

CString CCallCore::NotSentReason() const
{
    const Link* pTalking = nullptr;
    if (m_out.state == OutState::Talking || m_out.state == OutState::TurnedAway)
        pTalking = &m_out;
    else if (m_in.state == InState::Talking)
        pTalking = &m_in;
    if (!pTalking) return CString();
    if (pTalking->bSealedEnd) return kNotSentEnded;
    if (pTalking->secure == Secure::Plain && m_bRequireSecure) return kNotSentPlain;
    return kNotSentYet;
}

bool CCallCore::RoomFor(const std::vector<CallConn>& targets, const std::vector<CString>& lines) const
{
    for (CallConn conn : targets) {
        size_t nBytes = 0;
        for (const CString& line : lines) nBytes += WireSize(conn, (size_t)ComposeText(line).GetLength());
        if (!LinkOf(conn)->queue.Fits(nBytes)) return false;
    }
    return true;
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
    // Lines that no partner could be sent stay in the edit and are not listed.
    for (const CString& line : m_typed.lines) {
        Add(CallFx::ListSent { line });
        Record(m_typed.first, CallRec::Sent { line });
    }
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
    // While away, the machine answers once the caller's greeting (and a commitment sent with it)
    // has been read.
    if (conn == CallConn::In && link.nGeneration == nGeneration && m_in.state == InState::Ringing &&
        m_bAway && m_in.bMachineTimer && !m_in.strCallerGreeting.empty())
        MachineAnswer();
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

bool CCallCore::Refused(CallConn conn, const CLineMessage& msg) const
{
    switch (LinkOf(conn)->secure) {
    case Secure::On:
        // Inside an encrypted call every line but a frame was put there on the way.
        return msg.kind != CLineMessage::Frame;
    case Secure::Committed:
        // Between the callee's answer line and the caller's reveal only the reveal may come.
        return msg.kind != CLineMessage::KeyReveal;
    case Secure::Offered:
        // Before the keys are agreed, a frame is nobody's.
        return msg.kind == CLineMessage::Frame;
    default:
        return false;
    }
}

bool CCallCore::Unseal(CallConn conn, const CLineMessage& msg, CLineMessage* pPlain)
{
    Link& link = *LinkOf(conn);
    *pPlain = msg;
    if (msg.kind != CLineMessage::Frame) return true;
    if (link.secure != Secure::On) {
        pPlain->kind = CLineMessage::Other; // a frame in a plain call is ignored
        return true;
    }
    // It must open, as the next one.
    std::string message;
    if (!link.channel.Open(msg.strPayload.str(), &message)) return Tampered(conn), false;
    const size_t n = message.size();
    if (link.bProofDue) {
        // Version 3: the partner's first frame proves its identity, and nothing else may come first.
        if (!link.channel.TakeProof(message, &link.strPeerFingerprint)) return Tampered(conn), false;
        link.bProofDue = false;
        Classify(conn);
        Settle(false);
        return false;
    }
    if (message == kHangUp) {
        // The partner hangs up: its close comes next, and nothing before it is lost.
        link.bSealedEnd = true;
        return false;
    }
    if (n >= 2 && message[0] == 'S') {
        pPlain->kind = CLineMessage::Text;
        pPlain->strPayload = CString(message.substr(1, n - 2));
    } else if (message == "C\r") {
        pPlain->kind = CLineMessage::Answer;
    } else {
        return Tampered(conn), false;
    }
    return true;
}

void CCallCore::Apply(
    CallConn conn, const CLineMessage& msg, const CString& strMyName, std::vector<CString>& batch)
{
    const Link& link = *LinkOf(conn);
    if (link.bSealedEnd) return; // the partner hung up: nothing more is taken from it
    if (Refused(conn, msg)) return Tampered(conn);
    CLineMessage plain;
    if (!Unseal(conn, msg, &plain)) return;
    // Lines of a decided call are listed; a line before the decision makes the call plain first.
    if (plain.kind == CLineMessage::Text && (link.secure == Secure::On || link.secure == Secure::Plain)) {
        batch.push_back(plain.strPayload);
        CountMessageLine(conn, batch);
        return;
    }
    // Lines listed before what follows them.
    ListBatch(conn, batch);
    // The caller's kinds of line read on the incoming connection ("C", "B", the answer line) and
    // the callee's on the outgoing one are not acted on: acting on them would let one partner
    // end the calling phase of another call, or change this call's look while it rings.
    switch (plain.kind) {
    case CLineMessage::Text:
        if (Decide(conn, false)) {
            batch.push_back(plain.strPayload);
            CountMessageLine(conn, batch);
        }
        break;
    case CLineMessage::CalleeName:
        // One greeting per connection, of the kind its role expects: the callee's on the
        // connection this side opened, the caller's on the one it took.
        if (conn != CallConn::Out || link.bGreeted) return StrayGreeting(conn);
        TakeCalleeGreeting(conn, plain.strPayload, strMyName);
        break;
    case CLineMessage::CallerName:
        if (conn != CallConn::In || link.bGreeted) return StrayGreeting(conn);
        TakeCallerGreeting(conn, plain.strPayload);
        break;
    case CLineMessage::KeyCommit:
        TakeCommit(conn, plain.strPayload);
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
    case CLineMessage::Version:
        TakeVersion(conn, plain.strPayload);
        break;
    case CLineMessage::Frame:
    case CLineMessage::Other:
        break;
    }
}

void CCallCore::StrayGreeting(CallConn conn)
{
    if (Keyed(*LinkOf(conn))) Tampered(conn);
}

void CCallCore::TakeCalleeGreeting(CallConn conn, const CString& strName, const CString& strMyName)
{
    Link& link = *LinkOf(conn);
    link.bGreeted = true;
    Add(CallFx::PartnerName { conn, link.nGeneration, strName, false });
    link.strPartnerName = strName;
    // The reply goes back on the connection the greeting came from.
    const CString strGreeting = ComposeCallerGreeting(strMyName);
    Queue(conn, strGreeting);
    Record(conn, CallRec::Named { strName });
    // The caller commits to its key right after its greeting; an older callee ignores the line.
    // Beside a call taken, this one stays plain: one code cannot vouch for two calls' lines.
    if (link.secure != Secure::None || m_in.state != InState::Idle) return;
    if (!link.channel.Start(CSecureChannel::Caller)) {
        LibraryFailed(conn);
        return;
    }
    link.strCallerGreeting = strGreeting.str();
    link.strCalleeGreeting = ComposeCalleeGreeting(strName).str();
    // With an identity to prove, the version line first: an older callee ignores it.
    if (m_pIdentity && m_pIdentity->Valid()) {
        Queue(conn, CString(CSecureChannel::VersionLine()));
        link.bVersionSent = true;
    }
    Queue(conn, CString(link.channel.CommitLine()));
    link.secure = Secure::Offered;
}

void CCallCore::TakeCallerGreeting(CallConn conn, const CString& strName)
{
    Link& link = *LinkOf(conn);
    link.bGreeted = true;
    Add(CallFx::PartnerName { conn, link.nGeneration, strName, true });
    link.strPartnerName = strName;
    Record(conn, CallRec::Named { strName });
    link.strCallerGreeting = ComposeCallerGreeting(strName).str();
}

void CCallCore::TakeCommit(CallConn conn, const CString& strLine)
{
    // Taken while the call rings and is undecided (the user has not answered), after the
    // caller's greeting; the answer line goes out plain, and the reveal must follow in time.
    // Beside an outgoing call, this one stays plain: one code cannot vouch for two calls' lines.
    if (conn != CallConn::In || m_in.state != InState::Ringing || m_in.secure != Secure::None ||
        m_in.strCallerGreeting.empty() || m_out.state != OutState::Idle)
        return;
    if (!m_in.channel.Start(CSecureChannel::Callee)) {
        LibraryFailed(conn);
        return;
    }
    if (!m_in.channel.TakeCommit(strLine.str())) return Tampered(conn);
    // A caller that sent the version line before its commitment hears it back.
    if (m_in.bPeerV3) {
        m_in.channel.UseVersion3();
        Queue(conn, CString(CSecureChannel::VersionLine()));
    }
    Queue(conn, CString(m_in.channel.KeyLine()));
    m_in.secure = Secure::Committed;
    SetTimer(conn, true);
}

void CCallCore::TakeReveal(CallConn conn, const CString& strLine)
{
    if (conn != CallConn::In || m_in.secure != Secure::Committed) return;
    SetTimer(conn, false);
    if (!m_in.channel.Complete(strLine.str(), m_in.strCallerGreeting, m_in.strCalleeGreeting))
        return Tampered(conn);
    Decide(conn, true);
    // The user answered while the reveal was on its way: "C" goes now, as the first frame.
    if (m_in.state == InState::Talking) SendAnswer();
}

void CCallCore::TakeKeyAnswer(CallConn conn, const CString& strLine)
{
    // A callee sends its key only in answer to a commitment.
    if (conn != CallConn::Out || m_out.secure != Secure::Offered) return;
    if (m_out.bPeerV3) m_out.channel.UseVersion3();
    if (!m_out.channel.Complete(strLine.str(), m_out.strCallerGreeting, m_out.strCalleeGreeting))
        return Tampered(conn);
    // The reveal goes plain, before anything sealed.
    Queue(conn, CString(m_out.channel.KeyLine()));
    Decide(conn, true);
}

void CCallCore::TakeAnswer(CallConn conn)
{
    if (conn != CallConn::Out) return;
    // A plain "C" where an answer line was due: the call is plain, through the same decision.
    if ((m_out.secure == Secure::None || m_out.secure == Secure::Offered) && !Decide(conn, false)) return;
    m_out.state = OutState::Talking;
    Record(conn, CallRec::PartnerAnswered {});
    Settle(false);
}

void CCallCore::TakeBusy(CallConn conn)
{
    if (conn != CallConn::Out) return;
    if (m_out.secure == Secure::None) {
        // The busy answer ("B" before any greeting) is no call: "話し中" shows, whatever the option.
        m_out.secure = Secure::Plain;
        Record(conn, CallRec::Secured { CString() });
    }
    // "B" in answer to a commitment makes the call plain, through the decision.
    // A busy partner is not told apart from a verified contact.
    if (m_out.secure == Secure::Offered && !Decide(conn, false, false)) return;
    // After the partner answered, "B" changes only the text of the hidden status display.
    if (m_out.state == OutState::Talking)
        m_out.bBusyText = true;
    else
        m_out.state = OutState::TurnedAway;
    Record(conn, CallRec::PartnerBusy {});
    Settle(false);
}

void CCallCore::TakeVersion(CallConn conn, const CString& strLine)
{
    if (!CSecureChannel::IsVersionLine(strLine.str()) || !m_pIdentity || !m_pIdentity->Valid()) return;
    // The callee takes the caller's while it rings, after the caller's greeting and before the
    // commitment; the caller takes the callee's in answer to its own, before the answer line.
    if (conn == CallConn::In && m_in.state == InState::Ringing && m_in.secure == Secure::None &&
        !m_in.strCallerGreeting.empty())
        m_in.bPeerV3 = true;
    if (conn == CallConn::Out && m_out.secure == Secure::Offered && m_out.bVersionSent) m_out.bPeerV3 = true;
}
