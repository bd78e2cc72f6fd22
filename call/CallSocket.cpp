#include "call/CallSocket.h"

CCallSocket::CCallSocket() : m_pOwner(nullptr), m_nConnectError(0) { }

CCallSocket::~CCallSocket()
{
    CAsyncSocket::Close();
    DiscardForwarded();
}

void CCallSocket::Close()
{
    CAsyncSocket::Close();
    DiscardForwarded();
}

void CCallSocket::DiscardForwarded()
{
    HWND hOwner = m_pOwner ? m_pOwner->GetSafeHwnd() : NULL;
    if (!hOwner) return;
    AfxDiscardMessages(
        hOwner, WM_SOCK_CONNECT, WM_SOCK_OOB, [this](const MSG& m) { return m.lParam == (LPARAM)this; });
}

void CCallSocket::Forward(UINT message)
{
    if (m_pOwner) ::PostMessageA(m_pOwner->GetSafeHwnd(), message, 0, (LPARAM)this);
}

void CCallSocket::OnReceive(int nErrorCode)
{
    CAsyncSocket::OnReceive(nErrorCode);
    Forward(WM_SOCK_RECEIVE);
}

void CCallSocket::OnSend(int nErrorCode)
{
    CAsyncSocket::OnSend(nErrorCode);
    Forward(WM_SOCK_SEND);
}

void CCallSocket::OnOutOfBandData(int nErrorCode)
{
    CAsyncSocket::OnOutOfBandData(nErrorCode);
    Forward(WM_SOCK_OOB);
}

void CCallSocket::OnAccept(int nErrorCode)
{
    CAsyncSocket::OnAccept(nErrorCode);
    Forward(WM_SOCK_ACCEPT);
}

void CCallSocket::OnConnect(int nErrorCode)
{
    CAsyncSocket::OnConnect(nErrorCode);
    m_nConnectError = nErrorCode;
    Forward(WM_SOCK_CONNECT);
}

void CCallSocket::OnClose(int nErrorCode)
{
    CAsyncSocket::OnClose(nErrorCode);
    Forward(WM_SOCK_CLOSE);
}
