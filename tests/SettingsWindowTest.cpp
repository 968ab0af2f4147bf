#include "res/resource.h"
#include "settings/ConnectionStore.h"
#include "settings/History.h"
#include "settings/SettingsStore.h"
#include "tests/LoopbackPeer.h"
#include "ui/MainDlg.h"

#include <commctrl.h>
#include <gtest/gtest.h>

namespace {

class SettingsWindow : public testing::Test {
protected:
    void SetUp() override { DeleteFileW(SettingsFilePath().c_str()); }
    void TearDown() override { DeleteFileW(SettingsFilePath().c_str()); }
    void Close(CMainDlg& dialog) { SendMessageW(dialog.Handle(), WM_CLOSE, 0, 0); }
    RECT WindowRect(const CMainDlg& dialog)
    {
        RECT r{};
        GetWindowRect(dialog.Handle(), &r);
        return r;
    }
};

} // namespace

TEST_F(SettingsWindow, OpensWithTheStoredChoices)
{
    ConnectionSettings stored;
    stored.useSerial = 1;
    stored.baud = 250000;
    stored.dataBits = 7;
    stored.parity = 2;
    stored.flowControl = 7;
    stored.serialPort = L"COM99"; // not present: the list keeps its selection
    SaveConnectionSettings(stored);
    SaveSendHistory({L"newest", L"older"});

    CMainDlg dialog;
    ASSERT_TRUE(dialog.Create());
    EXPECT_EQ(dialog.Item(IDC_COMM_COMBO).Selection(), CommSerial);
    EXPECT_EQ(dialog.Item(IDC_CONNECT).Text(), L"Open");
    EXPECT_EQ(dialog.Item(IDC_BAUD).Text(), L"250000");
    EXPECT_EQ(dialog.Item(IDC_DATA_BITS).Text(), L"7");
    EXPECT_EQ(dialog.Item(IDC_PARITY).Text(), L"Even");
    EXPECT_EQ(dialog.Item(IDC_FLOW).Text(), L"XON/XOFF");
    EXPECT_FALSE(dialog.Item(IDC_IP_EDIT).Visible());
    const Window history = dialog.Item(IDC_HISTORY);
    ASSERT_EQ(history.Send(CB_GETCOUNT), 2);
    wchar_t first[32] = {};
    history.Send(CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(first));
    EXPECT_STREQ(first, L"newest");
}

TEST_F(SettingsWindow, ConnectSavesTheChoicesFirst)
{
    CMainDlg dialog;
    ASSERT_TRUE(dialog.Create());
    const uint16_t port = ClosedLoopbackPort();
    dialog.Item(IDC_PORT_EDIT).SetText(std::to_wstring(port));
    dialog.Item(IDC_IP_EDIT).SetText(L"127.0.0.1");
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    EXPECT_EQ(LoadConnectionSettings().port, port);
}

// Opening reads and closing writes under one lock each, so a copy that
// hangs holding it costs one wait each way; a start sweeps away what a
// copy killed mid-save left.
TEST_F(SettingsWindow, CloseSavesChoicesHistoryAndRectangle)
{
    SaveSendHistory({L"stored by another copy"});
    const std::wstring draft = SettingsFilePath() + L".4294967292-1.tmp";
    const HANDLE half = CreateFileW(draft.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(half, INVALID_HANDLE_VALUE);
    CloseHandle(half);
    const uint64_t before = SettingsLockAcquisitions();
    CMainDlg dialog;
    ASSERT_TRUE(dialog.Create());
    EXPECT_EQ(SettingsLockAcquisitions() - before, 1u);
    EXPECT_EQ(GetFileAttributesW(draft.c_str()), INVALID_FILE_ATTRIBUTES);
    MoveWindow(dialog.Handle(), 20, 30, 1000, 700, TRUE);
    dialog.Item(IDC_IP_EDIT).SetText(L"10.1.2.3");
    AppendSendHistory(L"sent by another copy meanwhile");
    const uint64_t beforeClose = SettingsLockAcquisitions();
    Close(dialog);
    EXPECT_EQ(SettingsLockAcquisitions() - beforeClose, 1u);
    EXPECT_TRUE(dialog.Ended());
    EXPECT_EQ(LoadConnectionSettings().ip, L"10.1.2.3");
    // This window's list first, then what the other copy added.
    EXPECT_EQ(LoadSendHistory(), (HistoryList{L"stored by another copy", L"sent by another copy meanwhile"}));
    RECT r{};
    ASSERT_TRUE(LoadWindowRect(r));
    EXPECT_EQ(r.left, 20);
    EXPECT_EQ(r.top, 30);
    EXPECT_EQ(r.right, 1020);
    EXPECT_EQ(r.bottom, 730);
}

TEST_F(SettingsWindow, RectangleIsRestoredOnlyWhereItCanBeSeen)
{
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    SaveWindowRect(RECT{work.left + 5, work.top + 6, work.left + 5 + 1010, work.top + 6 + 640});
    {
        CMainDlg dialog;
        ASSERT_TRUE(dialog.Create());
        const RECT r = WindowRect(dialog);
        EXPECT_EQ(r.left, work.left + 5);
        EXPECT_EQ(r.top, work.top + 6);
        EXPECT_EQ(r.right - r.left, 1010);
    }
    SaveWindowRect(RECT{work.right + 5000, 0, work.right + 6000, 700});
    CMainDlg offscreen;
    ASSERT_TRUE(offscreen.Create());
    EXPECT_LT(WindowRect(offscreen).left, work.right);
}

TEST_F(SettingsWindow, MinimisedWindowSavesItsRestoredRectangle)
{
    CMainDlg dialog;
    ASSERT_TRUE(dialog.Create());
    MoveWindow(dialog.Handle(), 40, 50, 1000, 700, TRUE);
    ShowWindow(dialog.Handle(), SW_MINIMIZE);
    Close(dialog);
    RECT r{};
    ASSERT_TRUE(LoadWindowRect(r));
    EXPECT_EQ(r.right - r.left, 1000);
    EXPECT_EQ(r.bottom - r.top, 700);
}

// Every send choice comes back in the next window.
TEST_F(SettingsWindow, SendChoicesComeBack)
{
    {
        CMainDlg dialog;
        ASSERT_TRUE(dialog.Create());
        for (int id : {IDC_CR, IDC_ENTER_SENDS, IDC_CLEAR_AFTER_SEND, IDC_ESCAPES}) {
            dialog.Item(id).SetCheck(true);
            SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        }
        dialog.Item(IDC_CHECKSUM).Select(5);
        dialog.Item(IDC_REPEAT_MS).SetText(L"250");
        TabCtrl_SetCurSel(dialog.Item(IDC_SEND_TABS).Handle(), 1);
        Close(dialog);
    }
    CMainDlg again;
    ASSERT_TRUE(again.Create());
    for (int id : {IDC_CR, IDC_ENTER_SENDS, IDC_CLEAR_AFTER_SEND, IDC_ESCAPES})
        EXPECT_TRUE(again.Item(id).Checked()) << id;
    EXPECT_FALSE(again.Item(IDC_LF).Checked());
    EXPECT_FALSE(again.Item(IDC_CRLF).Checked());
    EXPECT_EQ(again.Item(IDC_CHECKSUM).Selection(), 5);
    EXPECT_EQ(again.Item(IDC_REPEAT_MS).Text(), L"250");
    EXPECT_EQ(TabCtrl_GetCurSel(again.Item(IDC_SEND_TABS).Handle()), 1);
    Close(again);
}
