// The version box and the documents: where it opens from, and what is handed to the shell for
// each document and link (recorded, so nothing is launched).
#include "tests/win/test_util.h"

#include <memory>

#include "ui/Documents.h"

namespace {

struct ShellCall {
    HWND hWnd;
    bool bVerb;
    std::string file;
    bool bParams;
    std::string dir;
    int nShow;
};
std::vector<ShellCall> g_shellCalls;

HINSTANCE WINAPI RecordShellCall(
    HWND hWnd, LPCSTR pszVerb, LPCSTR pszFile, LPCSTR pszParams, LPCSTR pszDir, INT nShow)
{
    g_shellCalls.push_back({ hWnd, pszVerb != nullptr, pszFile ? pszFile : "", pszParams != nullptr,
        pszDir ? pszDir : "", nShow });
    return (HINSTANCE)(INT_PTR)33; // success, as the shell reports it
}

struct ShellRecorder {
    ShellRecorder()
    {
        g_shellCalls.clear();
        SetShellExecuteHook(RecordShellCall);
    }
    ~ShellRecorder() { SetShellExecuteHook(nullptr); }
};

// The folder of the running executable, with its trailing separator.
std::string ExeFolder()
{
    char path[MAX_PATH] = "";
    ::GetModuleFileNameA(NULL, path, sizeof path);
    std::string s = path;
    return s.substr(0, s.find_last_of("\\/") + 1);
}

void ExpectOpened(const ShellCall& call, HWND hOwner, const std::string& file, const std::string& dir)
{
    EXPECT_EQ(call.hWnd, hOwner);
    EXPECT_FALSE(call.bVerb) << "a verb was given instead of the default action";
    EXPECT_EQ(call.file, file);
    EXPECT_FALSE(call.bParams);
    EXPECT_EQ(call.dir, dir) << "working directory for " << file;
    EXPECT_EQ(call.nShow, SW_SHOWDEFAULT);
}

bool IsVersionBox(CDialog* pDlg)
{
    char caption[32] = "";
    ::GetDlgItemTextA(pDlg->m_hWnd, IDC_CAPTION, caption, sizeof caption);
    return lstrcmpA(caption, "ﾊﾞｰｼﾞｮﾝ情報") == 0;
}

class AboutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_pDlg.reset(new CPhoneDlgInTempDir(kPortZero));
        ASSERT_TRUE(m_pDlg->Create());
    }
    void TearDown() override
    {
        if (m_pDlg) m_pDlg->Close();
    }
    // Runs the trigger and returns how many version boxes it opened (each closed with OK).
    int VersionBoxesOpenedBy(const std::function<void()>& trigger)
    {
        CModalCatcher catcher;
        int nBoxes = 0;
        catcher.onDialog = [&](CDialog* pDlg) {
            if (IsVersionBox(pDlg)) ++nBoxes;
            ::PostMessageA(pDlg->m_hWnd, WM_COMMAND, IDOK, 0);
        };
        trigger();
        EXPECT_TRUE(catcher.boxes.empty());
        return nBoxes;
    }

    std::unique_ptr<CPhoneDlgInTempDir> m_pDlg;
    ShellRecorder m_shell;
};

} // namespace

TEST_F(AboutTest, PopupItemsOpenTheDocumentsBesideTheProgram)
{
    const std::string folder = ExeFolder();
    m_pDlg->Command(ID_HISTORY);
    m_pDlg->Command(ID_README);
    ASSERT_EQ(g_shellCalls.size(), 2u);
    ExpectOpened(g_shellCalls[0], m_pDlg->m_hWnd, folder + "history.txt", folder);
    ExpectOpened(g_shellCalls[1], m_pDlg->m_hWnd, folder + "readme.txt", folder);
}

TEST_F(AboutTest, VersionBoxOpensFromButtonPopupAndSystemMenu)
{
    EXPECT_EQ(VersionBoxesOpenedBy([&] { m_pDlg->Click(IDC_BTN_VERSION); }), 1);
    EXPECT_EQ(VersionBoxesOpenedBy([&] { m_pDlg->Command(ID_APP_ABOUT); }), 1);
    EXPECT_EQ(
        VersionBoxesOpenedBy([&] { ::SendMessageA(m_pDlg->m_hWnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0); }), 1);
    EXPECT_TRUE(m_pDlg->IsWindowVisible());
    EXPECT_FALSE(m_pDlg->IsEnded());
    EXPECT_TRUE(g_shellCalls.empty());
}

TEST_F(AboutTest, LinksAndButtonsOfTheBoxOpenTheirTargetsAndTheBoxStays)
{
    const std::string folder = ExeFolder();
    CModalCatcher catcher;
    HWND hBox = NULL;
    bool bStayed = false;
    std::string homeText, mailText;
    catcher.onDialog = [&](CDialog* pDlg) {
        hBox = pDlg->m_hWnd;
        char text[128] = "";
        ::GetDlgItemTextA(hBox, IDC_STATIC_HOMEPAGE, text, sizeof text);
        homeText = text;
        ::GetDlgItemTextA(hBox, IDC_STATIC_MAIL, text, sizeof text);
        mailText = text;
        ::SendMessageA(hBox, WM_COMMAND, MAKEWPARAM(IDC_STATIC_HOMEPAGE, STN_CLICKED),
            (LPARAM)::GetDlgItem(hBox, IDC_STATIC_HOMEPAGE));
        ::SendMessageA(hBox, WM_COMMAND, MAKEWPARAM(IDC_STATIC_MAIL, STN_CLICKED),
            (LPARAM)::GetDlgItem(hBox, IDC_STATIC_MAIL));
        ::SendMessageA(::GetDlgItem(hBox, IDC_BTN_HISTORY), BM_CLICK, 0, 0);
        ::SendMessageA(::GetDlgItem(hBox, IDC_BTN_README), BM_CLICK, 0, 0);
        bStayed = ::IsWindow(hBox) && ::IsWindowVisible(hBox);
        ::PostMessageA(hBox, WM_COMMAND, IDOK, 0);
    };
    m_pDlg->Click(IDC_BTN_VERSION);
    ASSERT_NE(hBox, (HWND)NULL) << "no version box";
    EXPECT_TRUE(bStayed) << "opening a document closed the box";
    ASSERT_EQ(g_shellCalls.size(), 4u);
    ExpectOpened(g_shellCalls[0], hBox, "http://www.example.com/kelvaro/", "http://www.example.com/kelvaro/");
    ExpectOpened(g_shellCalls[1], hBox, "mailto:kelvaro@example.com", "");
    ExpectOpened(g_shellCalls[2], hBox, folder + "history.txt", folder);
    ExpectOpened(g_shellCalls[3], hBox, folder + "readme.txt", folder);
    // What the box shows is what it opens.
    EXPECT_EQ(homeText, "HP      : http://www.example.com/kelvaro/");
    EXPECT_EQ(mailText, "e-mail  : kelvaro@example.com");
}

TEST_F(AboutTest, VersionBoxWhileHiddenLeavesTheWindowHidden)
{
    m_pDlg->Click(IDC_BTN_HIDE);
    ASSERT_FALSE(m_pDlg->IsWindowVisible());
    bool bVisibleMeanwhile = true;
    CModalCatcher catcher;
    int nBoxes = 0;
    catcher.onDialog = [&](CDialog* pDlg) {
        nBoxes += IsVersionBox(pDlg);
        bVisibleMeanwhile = m_pDlg->IsWindowVisible() != FALSE;
        ::PostMessageA(pDlg->m_hWnd, WM_COMMAND, IDOK, 0);
    };
    m_pDlg->Command(ID_APP_ABOUT);
    EXPECT_EQ(nBoxes, 1);
    EXPECT_FALSE(bVisibleMeanwhile);
    PumpFor(20);
    EXPECT_FALSE(m_pDlg->IsWindowVisible());
    EXPECT_TRUE(m_pDlg->InTray());
}

TEST(AboutDocuments, NothingIsOpenedForAWindowThatIsGone)
{
    ShellRecorder rec;
    HWND hGone = ::CreateWindowA("STATIC", "", 0, 0, 0, 1, 1, NULL, NULL, NULL, NULL);
    ASSERT_NE(hGone, (HWND)NULL);
    ::DestroyWindow(hGone);
    OpenDocumentFrom(hGone, "C:\\x\\readme.txt");
    EXPECT_TRUE(g_shellCalls.empty());
}
