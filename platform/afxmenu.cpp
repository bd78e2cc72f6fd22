// Menus loaded from resources, with their sub-menus and the popup.
#include "platform/afxwin.h"

CMenu::~CMenu()
{
    delete m_pSub;
    if (m_bOwner) DestroyMenu();
}

BOOL CMenu::LoadMenu(UINT nIDResource)
{
    DestroyMenu();
    m_hMenu = ::LoadMenuA(AfxGetResourceHandle(), MAKEINTRESOURCEA(nIDResource));
    return m_hMenu != NULL;
}

BOOL CMenu::DestroyMenu()
{
    if (!m_hMenu) return FALSE;
    BOOL ok = m_bOwner ? ::DestroyMenu(m_hMenu) : TRUE;
    m_hMenu = NULL;
    return ok;
}

CMenu* CMenu::GetSubMenu(int nPos)
{
    HMENU h = ::GetSubMenu(m_hMenu, nPos);
    if (!h) return nullptr;
    if (!m_pSub) {
        m_pSub = new CMenu;
        m_pSub->m_bOwner = false; // destroyed with its parent menu
    }
    m_pSub->m_hMenu = h;
    return m_pSub;
}

BOOL CMenu::TrackPopupMenu(UINT nFlags, int x, int y, CWnd* pWnd, LPCRECT lpRect)
{
    return ::TrackPopupMenu(m_hMenu, nFlags, x, y, 0, pWnd ? pWnd->m_hWnd : NULL, lpRect);
}
