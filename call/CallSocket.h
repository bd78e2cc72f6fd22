// The program's socket: forwards every network event to its owner window as a posted message
// carrying the socket object, so that all call logic runs in the window's handlers.
#pragma once

#include "platform/afxsock.h"

#define WM_SOCK_CONNECT (WM_USER + 10)
#define WM_SOCK_ACCEPT (WM_USER + 11)
#define WM_SOCK_RECEIVE (WM_USER + 12)
#define WM_SOCK_SEND (WM_USER + 13)
#define WM_SOCK_CLOSE (WM_USER + 14)
#define WM_SOCK_OOB (WM_USER + 15)

class CCallSocket : public CAsyncSocket {
public:
    CCallSocket();
    ~CCallSocket() override;

    // Closes the socket; its messages still queued at the owner are dropped, so none of them can
    // be taken for a later socket at the same address.
    void Close() override;

    void SetOwner(CWnd* pOwner) { m_pOwner = pOwner; }
    // Error code of the last connect event (0: connected), for the owner to tell a refused
    // or failed call from a connected one; the posted message itself carries no outcome.
    int GetConnectError() const { return m_nConnectError; }

protected:
    void OnReceive(int nErrorCode) override;
    void OnSend(int nErrorCode) override;
    void OnOutOfBandData(int nErrorCode) override;
    void OnAccept(int nErrorCode) override;
    void OnConnect(int nErrorCode) override;
    void OnClose(int nErrorCode) override;

private:
    void Forward(UINT message);
    void DiscardForwarded();

    CWnd* m_pOwner;
    int m_nConnectError;
};
