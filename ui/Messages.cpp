// The main window's answering machine: the popup-menu items "留守録にする" and "留守録を聞く",
// its options in the settings file, and what the user is told of new messages. The machine
// itself is the call core's; the messages are kept by the journal.
#include "app/AwaySettings.h"
#include "app/PhoneDlg.h"
#include "ui/MessagesDlg.h"

void CPhoneDlg::ReadMachineSettings()
{
    const CAwayOptions options = ReadAwayOptions(m_strIniPath);
    m_core.SetAway(options.bOn);
    m_core.SetAnswerAfter(options.nAnswerAfter);
    m_core.SetAwayText(options.strText);
    m_journal.SetMessageHandler([this](const CString& strFrom) {
        m_notifier.MessageTaken(strFrom, m_journal.Messages().UnreadCount());
    });
    m_notifier.SetMessages(m_journal.Messages().UnreadCount());
}

void CPhoneDlg::WriteMachineSettings()
{
    CAwayOptions options;
    options.bOn = m_core.Away();
    options.nAnswerAfter = m_core.AnswerAfter();
    options.strText = m_core.AwayText();
    WriteAwayOptions(m_strIniPath, options);
}

void CPhoneDlg::OnAway() { m_core.SetAway(!m_core.Away()); }

void CPhoneDlg::OnMessages()
{
    // The call button is off while a call stands: then there is nothing to call back with.
    CMessagesDlg dlg(m_journal.Messages(), m_btnCall.IsWindowEnabled() != FALSE);
    const INT_PTR nResult = dlg.DoModal();
    if (dlg.m_bChanged) m_notifier.SetMessages(m_journal.Messages().UnreadCount());
    if (nResult == IDOK) CallBack(dlg.m_strCallBack);
}
