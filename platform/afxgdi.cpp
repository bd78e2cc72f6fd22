// GDI wrappers: each owns its drawing handle until DeleteObject or Detach.
#include "platform/afxgdi.h"

namespace {
int g_nLiveGdi = 0;
} // namespace

BOOL CGdiObject::Attach(HGDIOBJ hObject)
{
    if (!hObject) return FALSE;
    DeleteObject();
    m_hObject = hObject;
    ++g_nLiveGdi;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach()
{
    HGDIOBJ h = m_hObject;
    if (h) --g_nLiveGdi;
    m_hObject = NULL;
    return h;
}

BOOL CGdiObject::DeleteObject()
{
    if (!m_hObject) return FALSE;
    return ::DeleteObject(Detach());
}

int CGdiObject::LiveCount() { return g_nLiveGdi; }

int CRgn::CopyRgn(const CRgn* pRgnSrc)
{
    if (!m_hObject && !CreateRectRgn(0, 0, 0, 0)) return ERROR;
    return ::CombineRgn((HRGN)m_hObject, (HRGN)pRgnSrc->m_hObject, NULL, RGN_COPY);
}

void CDC::FillSolidRect(LPCRECT lpRect, COLORREF cr)
{
    ::SetBkColor(m_hDC, cr);
    ::ExtTextOutA(m_hDC, 0, 0, ETO_OPAQUE, lpRect, NULL, 0, NULL);
}
