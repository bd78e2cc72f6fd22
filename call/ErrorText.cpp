#include "call/ErrorText.h"

#include "platform/afxsock.h"

namespace {

// Texts of the network errors a user meets, for when the system has none of its own (Wine has
// none for "address in use", for one).
const struct {
    DWORD dwError;
    const char* pszText;
} kNetworkErrorTexts[] = {
    { WSAEACCES, "このポートを使う権限がありません。" },
    { WSAEINVAL, "アドレスまたはポート番号が正しくありません。" },
    { WSAEADDRINUSE, "このポートはほかのプログラムが使っています。ここへ電話をかけることはできません。" },
    { WSAEADDRNOTAVAIL, "このアドレスは使えません。" },
    { WSAENETDOWN, "ネットワークが使えません。" },
    { WSAENETUNREACH, "相手のネットワークに届きません。" },
    { WSAECONNABORTED, "接続が中断されました。" },
    { WSAECONNRESET, "相手が接続を切りました。" },
    { WSAETIMEDOUT, "相手が応答しません。" },
    { WSAECONNREFUSED, "相手は電話を受けられません（接続が拒否されました）。" },
    { WSAEHOSTDOWN, "相手のコンピュータが止まっています。" },
    { WSAEHOSTUNREACH, "相手のコンピュータに届きません。" },
    { WSAHOST_NOT_FOUND, "相手のコンピュータが見つかりません。" },
    { WSATRY_AGAIN, "相手のコンピュータの名前を調べられませんでした。しばらくしてからかけ直してください。" },
    { WSANO_DATA, "この名前のコンピュータにはアドレスがありません。" },
};
} // namespace

CString ErrorText(DWORD dwError)
{
    char* pszText = nullptr;
    DWORD n = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, NULL,
        dwError, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&pszText, 0, NULL);
    CString strText;
    if (n && pszText) strText = pszText;
    if (pszText) ::LocalFree(pszText);
    if (!strText.IsEmpty()) return strText;
    for (const auto& e : kNetworkErrorTexts) {
        if (e.dwError == dwError) {
            strText.Format("%s（エラー番号 %lu）", e.pszText, (unsigned long)dwError);
            return strText;
        }
    }
    strText.Format("エラー番号 %lu", (unsigned long)dwError);
    return strText;
}
