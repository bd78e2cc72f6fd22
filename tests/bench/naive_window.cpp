// The benchmark's naive window: a dialog that listens on 127.0.0.1:PORT, reads 1,024 bytes per
// read event and adds each text line ("S" + text + CR) to its list box as it comes, then
// scrolls to the newest. That is what the program's receive path did before it was made
// flood-proof, and the baseline the program is measured against. A closed connection clears the list, as a
// call that ends does.
//   bench_naive.exe PORT
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

const UINT WM_LISTEN_EVENT = WM_APP + 1;
const UINT WM_CONN_EVENT = WM_APP + 2;
const int IDD_NAIVE = 100;
const int IDC_LIST = 1009;
const size_t kMaxPending = 64 * 1024; // a line longer than this is cut, as in the program

SOCKET g_listen = INVALID_SOCKET;
SOCKET g_conn = INVALID_SOCKET;
std::string g_pending;

void CloseConnection(HWND hDlg)
{
    if (g_conn == INVALID_SOCKET) return;
    ::closesocket(g_conn);
    g_conn = INVALID_SOCKET;
    g_pending.clear();
    ::SendDlgItemMessageA(hDlg, IDC_LIST, LB_RESETCONTENT, 0, 0);
}

// Lists a text line; the index it got, or -1.
int AddLine(HWND hDlg, const std::string& line)
{
    if (line.empty() || line[0] != 'S') return -1;
    return (int)::SendDlgItemMessageA(hDlg, IDC_LIST, LB_ADDSTRING, 0, (LPARAM)line.c_str() + 1);
}

void OnRead(HWND hDlg)
{
    char buf[1024];
    int n = ::recv(g_conn, buf, sizeof buf, 0);
    if (n <= 0) return;
    g_pending.append(buf, (size_t)n);
    int last = -1;
    size_t start = 0, cr;
    while ((cr = g_pending.find('\r', start)) != std::string::npos) {
        last = std::max(last, AddLine(hDlg, g_pending.substr(start, cr - start)));
        start = cr + 1;
    }
    g_pending.erase(0, start);
    if (g_pending.size() > kMaxPending) {
        last = std::max(last, AddLine(hDlg, g_pending));
        g_pending.clear();
    }
    if (last >= 0) ::SendDlgItemMessageA(hDlg, IDC_LIST, LB_SETTOPINDEX, (WPARAM)last, 0);
}

INT_PTR CALLBACK DlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG: {
        ::SetWindowTextA(hDlg, "KelvaroBenchNaive");
        g_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons((u_short)lParam);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (g_listen == INVALID_SOCKET || ::bind(g_listen, (sockaddr*)&a, sizeof a) != 0 ||
            ::listen(g_listen, 5) != 0 || ::WSAAsyncSelect(g_listen, hDlg, WM_LISTEN_EVENT, FD_ACCEPT) != 0)
            ::EndDialog(hDlg, 2);
        return TRUE;
    }
    case WM_LISTEN_EVENT: {
        SOCKET s = ::accept(g_listen, NULL, NULL);
        if (s == INVALID_SOCKET) return TRUE;
        CloseConnection(hDlg); // one connection at a time: the newest
        g_conn = s;
        ::WSAAsyncSelect(g_conn, hDlg, WM_CONN_EVENT, FD_READ | FD_CLOSE);
        return TRUE;
    }
    case WM_CONN_EVENT:
        if ((SOCKET)wParam != g_conn) return TRUE;
        if (WSAGETSELECTEVENT(lParam) == FD_READ)
            OnRead(hDlg);
        else if (WSAGETSELECTEVENT(lParam) == FD_CLOSE)
            CloseConnection(hDlg);
        return TRUE;
    case WM_CLOSE:
        ::EndDialog(hDlg, 0);
        return TRUE;
    }
    return FALSE;
}

} // namespace

int WINAPI WinMain(HINSTANCE hInst, HINSTANCE, LPSTR lpCmdLine, int)
{
    int port = std::atoi(lpCmdLine);
    if (port <= 0 || port > 65535) return 1;
    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 1;
    INT_PTR r = ::DialogBoxParamA(hInst, MAKEINTRESOURCEA(IDD_NAIVE), NULL, DlgProc, (LPARAM)port);
    ::WSACleanup();
    return (int)r;
}
