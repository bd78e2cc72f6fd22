// The settings file "Kelvaro.ini" beside the executable (or, where the program's folder cannot
// be written, in the user's application data folder): read once at start, written once when
// the window is destroyed. Missing keys take their defaults; nothing here reports an error
// except a failed write at exit, which would otherwise lose the user's changes silently.
#include "app/PhoneDlg.h"
#include "app/NoticeSettings.h"
#include "app/Paths.h"

#include <cstdlib>

namespace {

const char kSectionSetting[] = "Setting";
const char kSectionAddress[] = "Address";

// A value of any length: the buffer grows until the value fits.
CString ReadValue(const char* pszSection, const char* pszKey, const char* pszDefault, const CString& strPath)
{
    for (DWORD size = 256;; size *= 2) {
        CString value;
        DWORD got = ::GetPrivateProfileStringA(
            pszSection, pszKey, pszDefault, value.GetBuffer((int)size), size, strPath);
        if (got + 1 < size || size >= (1u << 24)) {
            value.ReleaseBuffer((int)got);
            return value;
        }
    }
}

bool WriteValue(const char* pszSection, const char* pszKey, const CString& strValue, const CString& strPath,
    DWORD& rdwError)
{
    if (::WritePrivateProfileStringA(pszSection, pszKey, strValue, strPath)) return true;
    if (!rdwError) rdwError = ::GetLastError();
    return false;
}

// Key names of phonebook entry n (counted from 1).
struct EntryKeys {
    explicit EntryKeys(int n)
    {
        name.Format("Name%d", n);
        ip.Format("IP%d", n);
        port.Format("Port%d", n);
    }
    CString name, ip, port;
};

} // namespace

CSettingsPlace CPhoneDlg::SettingsPlace() const { return ProgramSettingsPlace(); }

void CPhoneDlg::ReadSettings()
{
    const CSettingsPlace place = SettingsPlace();
    m_strIniPath = place.strPath;
    // Told before the hide command is posted: the box's own loop would run that at once. The
    // settings are read once a run, at the window's start.
    if (place.bFirstTime) {
        AfxMessageBox(
            "Kelvaro のフォルダーに書き込めないため、設定と会話の記録を次のフォルダーに保存します。\r\n" +
                PathFolder(place.strPath),
            MB_OK | MB_ICONINFORMATION);
    }

    m_strAddress = ReadValue(kSectionSetting, "IP", kDefaultAddress, m_strIniPath);
    m_strPort = ReadValue(kSectionSetting, "Port", kDefaultPort, m_strIniPath);
    if (m_strPort.IsEmpty()) m_strPort = kDefaultPort;
    m_strMyName = ReadValue(kSectionSetting, "Name", "?", m_strIniPath);

    int nMinStart = std::atoi(ReadValue(kSectionSetting, "MinStart", "0", m_strIniPath));
    m_bMinStart = nMinStart != 0;
    m_chkMinStart.SetCheck(nMinStart);
    if (m_bMinStart || m_bStartInTray)
        PostMessage(WM_COMMAND, MAKEWPARAM(IDC_BTN_HIDE, BN_CLICKED), (LPARAM)m_btnHide.m_hWnd);

    int nCount = std::atoi(ReadValue(kSectionAddress, "Max", "0", m_strIniPath));

    m_book.RemoveAll();
    m_cmbPhonebook.ResetContent();
    m_cmbPhonebook.AddString("IPアドレス指定");
    for (int n = 1; n <= nCount; ++n) {
        const EntryKeys keys(n);
        CPhonebookEntry entry;
        entry.strName = ReadValue(kSectionAddress, keys.name, "?", m_strIniPath);
        entry.strAddress = ReadValue(kSectionAddress, keys.ip, kDefaultAddress, m_strIniPath);
        entry.strPort = ReadValue(kSectionAddress, keys.port, kDefaultPort, m_strIniPath);
        m_book.Add(entry);
        m_cmbPhonebook.AddString(entry.strName);
    }
    m_cmbPhonebook.SetCurSel(0);

    // The options of the notices and the log, and the files kept beside the settings.
    const CNoticeOptions options = ReadNoticeOptions(m_strIniPath);
    m_journal.SetLogOn(options.bLogOn);
    m_journal.SetFolder(PathFolder(m_strIniPath));
    m_notifier.SetSoundOn(options.bSoundOn);
    m_core.SetDoNotDisturb(options.bDoNotDisturb);
    m_core.SetRequireSecure(options.bRequireSecure);
    m_notifier.UpdateTip(m_journal.Missed().GetCount());
    m_nearby.LoadSetting(m_strIniPath);
}

void CPhoneDlg::WriteSettings()
{
    DWORD dwError = 0;
    CString strMinStart;
    strMinStart.Format("%d", m_bMinStart ? 1 : 0);
    WriteValue(kSectionSetting, "IP", m_strAddress, m_strIniPath, dwError);
    WriteValue(kSectionSetting, "Port", m_strPort, m_strIniPath, dwError);
    WriteValue(kSectionSetting, "Name", m_strMyName, m_strIniPath, dwError);
    WriteValue(kSectionSetting, "MinStart", strMinStart, m_strIniPath, dwError);

    int n = 0;
    for (const CPhonebookEntry& entry : m_book.All()) {
        const EntryKeys keys(++n);
        WriteValue(kSectionAddress, keys.name, entry.strName, m_strIniPath, dwError);
        WriteValue(kSectionAddress, keys.ip, entry.strAddress, m_strIniPath, dwError);
        WriteValue(kSectionAddress, keys.port, entry.strPort, m_strIniPath, dwError);
    }
    CString strMax;
    strMax.Format("%d", n);
    WriteValue(kSectionAddress, "Max", strMax, m_strIniPath, dwError);

    CNoticeOptions options;
    options.bLogOn = m_journal.LogOn();
    options.bSoundOn = m_notifier.SoundOn();
    options.bDoNotDisturb = m_core.DoNotDisturb();
    options.bRequireSecure = m_core.RequireSecure();
    WriteNoticeOptions(m_strIniPath, options);
    m_nearby.SaveSetting(m_strIniPath);

    // Tell the user once that the changes were not kept (read-only file or folder).
    if (dwError) ShowSystemError(dwError);
}
