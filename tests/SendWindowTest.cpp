#include "hexview/HexView.h"
#include "res/resource.h"
#include "tests/DialogPump.h"
#include "settings/History.h"
#include "settings/SendOptions.h"
#include "ui/SendComposer.h"
#include "settings/SettingsStore.h"
#include "tests/LoopbackPeer.h"
#include "ui/MainDlg.h"

#include <commctrl.h>
#include <gtest/gtest.h>

namespace {

class SendWindow : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteFileW(SettingsFilePath().c_str());
        ASSERT_TRUE(dialog.Create());
    }
    void TearDown() override { DeleteFileW(SettingsFilePath().c_str()); }

    Window Item(int id) const { return dialog.Item(id); }
    void Click(int id) { SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
    void Tick(UINT_PTR id) { SendMessageW(dialog.Handle(), WM_TIMER, id, 0); }
    void Tick() { Tick(2); }
    std::wstring Log()
    {
        Tick();
        return Item(IDC_LOG_EDIT).Text();
    }
    size_t Occurrences(const std::wstring& text, const std::wstring& part)
    {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    }
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs)
    {
        return PumpDialogUntil(dialog, done, timeoutMs);
    }
    // Opens a TCP client link to a listener of the test.
    bool ConnectToPeer()
    {
        Item(IDC_PORT_EDIT).SetText(std::to_wstring(listener.Port()));
        Click(IDC_CONNECT);
        peer = listener.Accept(5000);
        return peer.Valid() &&
               PumpUntil([&] { return Item(IDC_STATUS).Text() == L"TCP client connected"; }, 5000);
    }
    void ChooseSendTab(int index)
    {
        const HWND tabs = Item(IDC_SEND_TABS).Handle();
        TabCtrl_SetCurSel(tabs, index);
        NMHDR header{tabs, IDC_SEND_TABS, UINT(TCN_SELCHANGE)};
        SendMessageW(dialog.Handle(), WM_NOTIFY, IDC_SEND_TABS, reinterpret_cast<LPARAM>(&header));
    }
    HWND HexEditor() { return GetDlgItem(dialog.Handle(), IDC_SEND_HEX); }
    std::wstring HistoryItem(int i)
    {
        wchar_t text[256] = {};
        Item(IDC_HISTORY).Send(CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text));
        return text;
    }

    CMainDlg dialog;
    Listener listener;
    PeerSocket peer;
};

} // namespace

TEST_F(SendWindow, TextReachesThePeerByteExact)
{
    ASSERT_TRUE(ConnectToPeer());
    Item(IDC_SEND_EDIT).SetText(L"h\u00e9llo");
    Item(IDC_CRLF).SetCheck(true);
    Click(IDC_SEND);
    const std::vector<uint8_t> expected = {0x68, 0xC3, 0xA9, 0x6C, 0x6C, 0x6F, 0x0D, 0x0A};
    EXPECT_EQ(peer.Receive(expected.size(), 5000), expected);
    EXPECT_NE(Log().find(L"TX  h\u00e9llo\r\n\r\n"), std::wstring::npos);
    EXPECT_EQ(Item(IDC_TX_COUNT).Text(), L"TX: 8");
    EXPECT_EQ(HistoryItem(0), L"h\u00e9llo");
    EXPECT_EQ(LoadSendHistory(), (HistoryList{L"h\u00e9llo"}));
    EXPECT_EQ(Item(IDC_SEND_EDIT).Text(), L"h\u00e9llo"); // not cleared without "Clear after send"
}

// A Modbus RTU request typed with escapes, its CRC appended before the line
// ending; a malformed escape sends nothing. Both choices are remembered.
TEST_F(SendWindow, EscapesAndAChecksumMakeTheFrame)
{
    ASSERT_TRUE(ConnectToPeer());
    Item(IDC_ESCAPES).SetCheck(true);
    Click(IDC_ESCAPES);
    Item(IDC_CHECKSUM).Select(int(Checksum::Crc16Modbus));
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CHECKSUM, CBN_SELCHANGE), 0);
    Item(IDC_LF).SetCheck(true);
    Item(IDC_SEND_EDIT).SetText(L"\\x01\\x03\\0\\0\\x00\\x02");
    Click(IDC_SEND);
    const std::vector<uint8_t> expected = {0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B, 0x0A};
    EXPECT_EQ(peer.Receive(expected.size(), 5000), expected);
    EXPECT_EQ(HistoryItem(0), L"\\x01\\x03\\0\\0\\x00\\x02"); // as typed

    Item(IDC_SEND_EDIT).SetText(L"ab\\x4");
    Click(IDC_SEND);
    EXPECT_NE(Log().find(L"ERR The escape \"\\x4\" at character 3 is not one of"), std::wstring::npos);
    EXPECT_TRUE(peer.Receive(1, 300).empty());
    EXPECT_EQ(Item(IDC_TX_COUNT).Text(), L"TX: 9");

    const SendOptions stored = LoadSendOptions();
    EXPECT_TRUE(stored.escapes);
    EXPECT_EQ(stored.checksum, int(Checksum::Crc16Modbus));
}

TEST_F(SendWindow, HexFaceSendsOnlyCompleteBytes)
{
    ASSERT_TRUE(ConnectToPeer());
    ChooseSendTab(1);
    EXPECT_FALSE(Item(IDC_SEND_EDIT).Visible());
    EXPECT_TRUE(GetWindowLongW(HexEditor(), GWL_STYLE) & WS_VISIBLE);
    for (wchar_t c : {L'4', L'1', L'4'})
        SendMessageW(HexEditor(), WM_CHAR, c, 0);
    Item(IDC_CRLF).SetCheck(true); // no effect on this face
    Item(IDC_CLEAR_AFTER_SEND).SetCheck(true);
    Click(IDC_SEND);
    EXPECT_EQ(peer.Receive(1, 5000), (std::vector<uint8_t>{0x41}));
    EXPECT_FALSE(peer.Receive(1, 200).size());
    EXPECT_NE(Log().find(L"TX  41 \r\n"), std::wstring::npos);
    EXPECT_EQ(Item(IDC_HISTORY).Send(CB_GETCOUNT), 0);
    // Cleared after the send: a second press sends nothing and logs nothing.
    const std::wstring before = Log();
    Click(IDC_SEND);
    EXPECT_EQ(Log(), before);
}

TEST_F(SendWindow, EnterSends)
{
    ASSERT_TRUE(ConnectToPeer());
    Item(IDC_ENTER_SENDS).SetCheck(true);
    Item(IDC_SEND_EDIT).SetText(L"ping");
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    MSG msg{Item(IDC_SEND_EDIT).Handle(), WM_KEYDOWN, VK_RETURN, 1, 0, {}};
    dialog.RouteMessage(msg);
    EXPECT_EQ(peer.Receive(4, 5000), (std::vector<uint8_t>{'p', 'i', 'n', 'g'}));
    EXPECT_FALSE(dialog.Ended());
}

TEST_F(SendWindow, FailedSendLogsAndChangesNothingElse)
{
    Item(IDC_SEND_EDIT).SetText(L"lost");
    Item(IDC_CLEAR_AFTER_SEND).SetCheck(true);
    Click(IDC_SEND);
    EXPECT_EQ(Occurrences(Log(), L"ERR Send failed: no active transport.\r\n"), 1u);
    EXPECT_EQ(Item(IDC_SEND_EDIT).Text(), L"lost");
    EXPECT_EQ(Item(IDC_HISTORY).Send(CB_GETCOUNT), 0);
    EXPECT_EQ(Item(IDC_TX_COUNT).Text(), L"TX: 0");
    Item(IDC_SEND_EDIT).SetText(L"");
    Click(IDC_SEND); // empty payload: not even an error line
    EXPECT_EQ(Occurrences(Log(), L"Send failed"), 1u);
}

TEST_F(SendWindow, HistoryOrderAndRecall)
{
    ASSERT_TRUE(ConnectToPeer());
    for (const wchar_t* text : {L"one", L"two", L"One", L"  one  "}) {
        Item(IDC_SEND_EDIT).SetText(text);
        Click(IDC_SEND);
    }
    ASSERT_EQ(Item(IDC_HISTORY).Send(CB_GETCOUNT), 3);
    EXPECT_EQ(HistoryItem(0), L"one");
    EXPECT_EQ(HistoryItem(1), L"One");
    EXPECT_EQ(HistoryItem(2), L"two");
    EXPECT_EQ(Item(IDC_HISTORY).Selection(), 0);

    Item(IDC_LF).SetCheck(true);
    Item(IDC_SEND_EDIT).SetText(L"");
    Click(IDC_SEND); // a lone LF goes out, the history stays
    EXPECT_EQ(Item(IDC_HISTORY).Send(CB_GETCOUNT), 3);

    ChooseSendTab(1);
    Item(IDC_HISTORY).Select(2);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_HISTORY, CBN_SELCHANGE), 0);
    EXPECT_EQ(Item(IDC_SEND_EDIT).Text(), L"two");
    EXPECT_EQ(GetFocus(), Item(IDC_SEND_EDIT).Handle());
    EXPECT_EQ(TabCtrl_GetCurSel(Item(IDC_SEND_TABS).Handle()), 1);
}

// A text sent again, by hand or by Repeat, is already the newest entry:
// the file is not written again for it.
TEST_F(SendWindow, HistoryIsWrittenOnlyWhenItChanges)
{
    ASSERT_TRUE(ConnectToPeer());
    const uint64_t before = SendHistoryWrites();
    Item(IDC_SEND_EDIT).SetText(L"poll");
    for (int i = 0; i < 5; ++i)
        Click(IDC_SEND);
    EXPECT_EQ(SendHistoryWrites(), before + 1);
    Item(IDC_SEND_EDIT).SetText(L"other");
    Click(IDC_SEND);
    Item(IDC_SEND_EDIT).SetText(L"poll");
    Click(IDC_SEND);
    EXPECT_EQ(SendHistoryWrites(), before + 3);
    EXPECT_EQ(LoadSendHistory(), (HistoryList{L"poll", L"other"}));
    ASSERT_EQ(Item(IDC_HISTORY).Send(CB_GETCOUNT), 2);
    EXPECT_EQ(HistoryItem(0), L"poll");
    EXPECT_EQ(HistoryItem(1), L"other");
}

TEST_F(SendWindow, HistoryKeepsTheNewestHundred)
{
    const Window combo = Item(IDC_HISTORY);
    ASSERT_TRUE(ConnectToPeer());
    for (int i = 0; i < 100; ++i) {
        Item(IDC_SEND_EDIT).SetText(L"old" + std::to_wstring(i));
        Click(IDC_SEND);
    }
    Item(IDC_SEND_EDIT).SetText(L"newest");
    Click(IDC_SEND);
    EXPECT_EQ(combo.Send(CB_GETCOUNT), 100);
    EXPECT_EQ(HistoryItem(0), L"newest");
    EXPECT_EQ(HistoryItem(99), L"old1");
}

TEST_F(SendWindow, RepeatWithClearAfterSendSendsTheEndingAlone)
{
    ASSERT_TRUE(ConnectToPeer());
    Item(IDC_SEND_EDIT).SetText(L"AT");
    Item(IDC_CR).SetCheck(true);
    Item(IDC_CLEAR_AFTER_SEND).SetCheck(true);
    Item(IDC_REPEAT_MS).SetText(L"60000"); // the test ticks by hand
    Item(IDC_REPEAT).SetCheck(true);
    Click(IDC_REPEAT);
    Tick(1);
    Tick(1);
    Tick(1);
    EXPECT_EQ(peer.Receive(5, 5000), (std::vector<uint8_t>{'A', 'T', 0x0D, 0x0D, 0x0D}));
    EXPECT_EQ(Item(IDC_HISTORY).Send(CB_GETCOUNT), 1);

    Item(IDC_REPEAT).SetCheck(false);
    Click(IDC_REPEAT);
    Tick(1); // a tick already queued does nothing once Repeat is off
    EXPECT_TRUE(peer.Receive(1, 200).empty());
}

TEST_F(SendWindow, RepeatRunsOnItsTimerAndStopsWhenThePeerLeaves)
{
    ASSERT_TRUE(ConnectToPeer());
    Item(IDC_SEND_EDIT).SetText(L"x");
    Item(IDC_REPEAT_MS).SetText(L"0"); // raised to 1 ms
    Item(IDC_REPEAT).SetCheck(true);
    Click(IDC_REPEAT);
    std::vector<uint8_t> got;
    ASSERT_TRUE(PumpUntil([&] {
        const auto more = peer.Receive(16, 1);
        got.insert(got.end(), more.begin(), more.end());
        return got.size() >= 3;
    }, 5000));
    peer.Close();
    ASSERT_TRUE(PumpUntil([&] { return !dialog.Connected(); }, 5000));
    EXPECT_FALSE(Item(IDC_REPEAT).Checked());
    const std::wstring before = Log();
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(Log(), before); // no more sends, not even failed ones
}
