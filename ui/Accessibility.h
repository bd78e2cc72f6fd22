// What a screen reader needs beyond the controls' own texts: names for the controls that have
// no label in reading order (given through the accessibility property service), the popup menu
// from the keyboard on controls that do not ask for it themselves, and announcements: alerts,
// name changes of the displays a call changes, and received lines, politely.
#pragma once

#include "platform/afxwin.h"

#include <vector>

struct IAccPropServices;

// EVENT_OBJECT_LIVEREGIONCHANGED (Windows 8 on; older systems pass it by).
const DWORD kEventLiveRegionChanged = 0x8019;

class CAccessibility {
public:
    CAccessibility() = default;
    ~CAccessibility();
    CAccessibility(const CAccessibility&) = delete;
    CAccessibility& operator=(const CAccessibility&) = delete;

    struct Named {
        int nID;
        const char* pszName;
    };
    struct Watched {
        int nID;
        const char* pszLabel; // put before the text in the name; null: the text alone
    };
    // Names the controls; watches the displays, whose names follow their texts; the list gets
    // received lines announced. False names are kept where the system has no property service.
    void Attach(
        HWND hDlg, const std::vector<Named>& names, const std::vector<Watched>& watched, int nLinesID);
    // The names are taken back (before the controls go).
    void Detach();

    // After each message: a watched display whose text or visibility changed is announced.
    void Poll();
    // Lines arrived while the user looks at the window: the newest is announced politely.
    void LinesArrived(const CString& strNewest);

    // Whether names given through the property service reach readers here (not under every
    // system: then only labels and the controls' own texts name them).
    bool NamesGiven() const { return m_bNamesGiven; }

    // An alert about the window's control (a ring, a warning).
    static void Alert(HWND hCtl);
    // Shift+F10 and the context key on the control ask its dialog for the popup menu from the
    // keyboard (WM_CONTEXTMENU at (-1, -1)), also where the control does not do so itself.
    static void AddContextKeys(HWND hCtl);

private:
    bool SetName(HWND hCtl, const CString& strName);

    struct Display {
        HWND hCtl;
        const char* pszLabel;
        CString strShown;
        bool bVisible;
    };
    HWND m_hDlg = NULL;
    IAccPropServices* m_pProps = nullptr;
    bool m_bComStarted = false;
    bool m_bNamesGiven = false;
    std::vector<HWND> m_named;
    std::vector<Display> m_displays;
    HWND m_hLines = NULL;
};
