#include "hexview/HexView.h"
#include "res/resource.h"
#include "tests/DialogPump.h"
#include "settings/History.h"
#include "settings/SendOptions.h"
#include "ui/SendComposer.h"
#include "settings/ConnectionStore.h"
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
        PumpDialogUntilQuiet(dialog);
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
    void Choose(int comboId, int position)
    {
        Item(comboId).Select(position);
        SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(Item(comboId).Handle()));
    }
    // The list's entry of a peer at that local port; -1 when none is.
    int ClientEntry(uint16_t port)
    {
        const Window list = Item(IDC_CLIENT_LIST);
        const std::wstring peer = L"127.0.0.1:" + std::to_wstring(port);
        for (LRESULT i = 0; i < list.Send(LB_GETCOUNT); ++i)
            if (ClientText(int(i)).compare(0, peer.size() + 1, peer + L" ") == 0 || ClientText(int(i)) == peer)
                return int(i);
        return -1;
    }
    std::wstring ClientText(int index)
    {
        const Window list = Item(IDC_CLIENT_LIST);
        std::wstring text(size_t(list.Send(LB_GETTEXTLEN, WPARAM(index))) + 1, L'\0');
        text.resize(size_t(list.Send(LB_GETTEXT, WPARAM(index), reinterpret_cast<LPARAM>(text.data()))));
        return text;
    }
    void SelectOnly(std::initializer_list<int> entries)
    {
        const Window list = Item(IDC_CLIENT_LIST);
        list.Send(LB_SETSEL, FALSE, -1);
        for (int entry : entries)
            list.Send(LB_SETSEL, TRUE, entry);
    }
    static uint16_t LocalPort(SOCKET s)
    {
        sockaddr_in address{};
        int size = sizeof(address);
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
        return ntohs(address.sin_port);
    }
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
    // Cleared after the send: a second press sends nothing and logs nothing.
    const std::wstring before = Log();
    Click(IDC_SEND);
    EXPECT_EQ(Log(), before);

    // The bytes join the history, marked: chosen from the ASCII face, they
    // go back into the hex editor, and survive a restart as hex.
    ASSERT_EQ(Item(IDC_HISTORY).Send(CB_GETCOUNT), 1);
    EXPECT_EQ(HistoryItem(0), L"Hex: 41");
    ChooseSendTab(0);
    Item(IDC_HISTORY).Select(0);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_HISTORY, CBN_SELCHANGE), 0);
    EXPECT_EQ(TabCtrl_GetCurSel(Item(IDC_SEND_TABS).Handle()), 1);
    CHexView* editor = dialog.SendSide().HexView();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->GetContent(), (std::vector<uint8_t>{0x41}));
    EXPECT_EQ(LoadSendHistory(), (HistoryList{std::wstring(1, kHexHistoryMark) + L"41"}));
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

    ChooseSendTab(1); // a text chosen on the Hex face brings the text face back
    Item(IDC_HISTORY).Select(2);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_HISTORY, CBN_SELCHANGE), 0);
    EXPECT_EQ(Item(IDC_SEND_EDIT).Text(), L"two");
    EXPECT_EQ(GetFocus(), Item(IDC_SEND_EDIT).Handle());
    EXPECT_EQ(TabCtrl_GetCurSel(Item(IDC_SEND_TABS).Handle()), 0);
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
    EXPECT_EQ(Occurrences(Log(), L"ERR Repeat stopped: the link has ended.\r\n"), 1u);
    // Ticked again with no link, it unticks at once and says why.
    Item(IDC_REPEAT).SetCheck(true);
    Click(IDC_REPEAT);
    EXPECT_FALSE(Item(IDC_REPEAT).Checked());
    EXPECT_EQ(Occurrences(Log(), L"ERR Repeat needs an open link.\r\n"), 1u);
    const std::wstring before = Log();
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(Log(), before); // no more sends, not even failed ones
}

// Three real clients: bytes reach only the ones picked, each entry counts
// its own traffic, and Delete drops one while the others stay.
TEST_F(SendWindow, ServerSendsToTheSelectedClientsAndDropsThemByKey)
{
    const uint16_t port = ClosedLoopbackPort();
    Choose(IDC_MODE_COMBO, 1);
    Item(IDC_PORT_EDIT).SetText(std::to_wstring(port));
    Click(IDC_CONNECT);
    ASSERT_TRUE(PumpUntil([&] { return Item(IDC_STATUS).Text() == L"TCP server listening on " + std::to_wstring(port); },
                          5000));
    EXPECT_TRUE(Item(IDC_SEND_TARGET).Visible());
    PeerSocket clients[3];
    for (PeerSocket& client : clients)
        client = ConnectTo(L"127.0.0.1", port);
    ASSERT_TRUE(PumpUntil([&] { return Item(IDC_CLIENT_LIST).Send(LB_GETCOUNT) == 3; }, 5000));
    PeerSocket &a = clients[0], &b = clients[1], &c = clients[2];
    const auto entry = [&](const PeerSocket& client) { return ClientEntry(LocalPort(client.Get())); };

    Choose(IDC_SEND_TARGET, 1);
    EXPECT_TRUE(LoadSendOptions().toSelected);
    SelectOnly({entry(a), entry(c)});
    Item(IDC_SEND_EDIT).SetText(L"hi");
    Click(IDC_SEND);
    EXPECT_EQ(a.Receive(2, 5000), (std::vector<uint8_t>{'h', 'i'}));
    EXPECT_EQ(c.Receive(2, 5000), (std::vector<uint8_t>{'h', 'i'}));
    EXPECT_TRUE(b.Receive(1, 200).empty());
    // A line each, naming its peer, so the log and a capture say who got it.
    EXPECT_EQ(Occurrences(Log(), L"TX  127.0.0.1:" + std::to_wstring(LocalPort(a.Get())) + L"  hi\r\n"), 1u);
    EXPECT_EQ(Occurrences(Log(), L"TX  127.0.0.1:" + std::to_wstring(LocalPort(c.Get())) + L"  hi\r\n"), 1u);
    ASSERT_TRUE(b.SendAll({'x', 'y', 'z'}));
    ASSERT_TRUE(PumpUntil([&] { Tick(); return ClientText(entry(b)).find(L"RX: 3  TX: 0") != std::wstring::npos; },
                          5000));
    EXPECT_NE(ClientText(entry(a)).find(L"RX: 0  TX: 2"), std::wstring::npos);
    EXPECT_EQ(Item(IDC_CLIENT_LIST).Send(LB_GETSELCOUNT), 2); // a repainted entry keeps its selection

    // The menu's "Send to selected" whatever the choice beside Send.
    Choose(IDC_SEND_TARGET, 0);
    SelectOnly({entry(b)});
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDM_CLIENTS_SEND, 0), 0);
    EXPECT_EQ(b.Receive(2, 5000), (std::vector<uint8_t>{'h', 'i'}));
    EXPECT_TRUE(a.Receive(1, 200).empty());

    SelectOnly({entry(a)});
    SendMessageW(Item(IDC_CLIENT_LIST).Handle(), WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_TRUE(a.WaitClosed(5000));
    ASSERT_TRUE(PumpUntil([&] { return Item(IDC_CLIENT_LIST).Send(LB_GETCOUNT) == 2; }, 5000));
    EXPECT_NE(Log().find(L"Client disconnected"), std::wstring::npos);
    Click(IDC_SEND); // to all that are left
    EXPECT_EQ(b.Receive(2, 5000), (std::vector<uint8_t>{'h', 'i'}));
    EXPECT_EQ(c.Receive(2, 5000), (std::vector<uint8_t>{'h', 'i'}));
    EXPECT_TRUE(dialog.Connected());
}

// A listener lists whoever sent it a datagram, answers the last of them,
// or the ones picked.
TEST_F(SendWindow, ListenerListsItsSendersAndAnswersTheSelected)
{
    uint16_t port = 0;
    {
        UdpPeer probe; // a free UDP port, given back
        port = probe.Port();
    }
    Choose(IDC_COMM_COMBO, 1);
    Choose(IDC_MODE_COMBO, 1);
    Item(IDC_PORT_EDIT).SetText(std::to_wstring(port));
    Click(IDC_CONNECT);
    ASSERT_TRUE(PumpUntil([&] { return Item(IDC_STATUS).Text() == L"UDP listener started"; }, 5000));
    EXPECT_EQ(Item(IDC_SEND_TARGET).Text(), L"to last sender");
    UdpPeer first, second;
    ASSERT_TRUE(first.SendTo(port, {'1'}));
    ASSERT_TRUE(PumpUntil([&] { return Item(IDC_CLIENT_LIST).Send(LB_GETCOUNT) == 1; }, 5000));
    ASSERT_TRUE(second.SendTo(port, {'2'}));
    ASSERT_TRUE(PumpUntil([&] { return Item(IDC_CLIENT_LIST).Send(LB_GETCOUNT) == 2; }, 5000));
    ASSERT_TRUE(first.SendTo(port, {'3'})); // known already: no new entry
    ASSERT_TRUE(PumpUntil([&] { Tick(); return ClientText(ClientEntry(first.Port())).find(L"RX: 2") != std::wstring::npos; },
                          5000));
    EXPECT_EQ(Item(IDC_CLIENT_LIST).Send(LB_GETCOUNT), 2);

    std::vector<uint8_t> got;
    Item(IDC_SEND_EDIT).SetText(L"last");
    Click(IDC_SEND);
    ASSERT_TRUE(first.Receive(got, 5000));
    EXPECT_EQ(got, (std::vector<uint8_t>{'l', 'a', 's', 't'}));

    Choose(IDC_SEND_TARGET, 1);
    SelectOnly({ClientEntry(second.Port())});
    Item(IDC_SEND_EDIT).SetText(L"you");
    Click(IDC_SEND);
    ASSERT_TRUE(second.Receive(got, 5000));
    EXPECT_EQ(got, (std::vector<uint8_t>{'y', 'o', 'u'}));
    EXPECT_FALSE(first.Receive(got, 200));
}

// A file larger than anything the link queues goes out byte for byte while
// the window keeps working; a second one cancelled half way leaves a link
// that still sends, with nothing lost or doubled before the cancel.
TEST_F(SendWindow, AFileGoesOutWholeAndACancelLeavesTheLinkUsable)
{
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"ferrolink-send-file.bin";
    std::vector<uint8_t> content(3 * 1024 * 1024 + 123);
    uint32_t state = 12345;
    for (uint8_t& b : content) {
        state = state * 1103515245u + 12345u;
        b = uint8_t(state >> 23);
    }
    const auto writeFile = [&](const std::vector<uint8_t>& bytes) {
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        const bool ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size();
        CloseHandle(file);
        return ok;
    };
    ASSERT_TRUE(writeFile(content));
    ASSERT_TRUE(ConnectToPeer());
    const std::wstring status = Item(IDC_STATUS).Text();
    dialog.SendSide().SendFile(path);
    EXPECT_TRUE(dialog.SendSide().SendingFile());
    std::vector<uint8_t> got;
    ASSERT_TRUE(PumpUntil([&] {
        const auto more = peer.Receive(1 << 20, 2);
        got.insert(got.end(), more.begin(), more.end());
        return got.size() >= content.size();
    }, 30000));
    EXPECT_TRUE(got == content);
    ASSERT_TRUE(PumpUntil([&] { return !dialog.SendSide().SendingFile(); }, 5000));
    EXPECT_EQ(Occurrences(Log(), L"Sent file ferrolink-send-file.bin: " + std::to_wstring(content.size()) + L" bytes."),
              1u);
    EXPECT_EQ(Item(IDC_STATUS).Text(), status);
    EXPECT_EQ(dialog.Log().m_txByteCount, content.size());

    // A peer that reads nothing stalls the file; the cancel comes mid-way.
    std::vector<uint8_t> large(24 * 1024 * 1024);
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = uint8_t(i * 7 + (i >> 16));
    ASSERT_TRUE(writeFile(large));
    dialog.SendSide().SendFile(path);
    PumpUntil([] { return false; }, 1000);
    ASSERT_TRUE(dialog.SendSide().SendingFile());
    Item(IDC_SEND_EDIT).SetText(L"ok");
    Click(IDC_SEND); // would land in the middle of the file
    EXPECT_EQ(Occurrences(Log(), L"ERR Send failed: a file is being sent"), 1u);
    Click(IDC_SEND_FILE);
    EXPECT_FALSE(dialog.SendSide().SendingFile());
    const std::wstring log = Log();
    const size_t at = log.find(L"File send cancelled after ");
    ASSERT_NE(at, std::wstring::npos);
    const uint64_t sent = std::stoull(log.substr(at + 26));
    EXPECT_GT(sent, 0u);
    EXPECT_LT(sent, large.size());
    Click(IDC_SEND);
    std::vector<uint8_t> rest;
    ASSERT_TRUE(PumpUntil([&] {
        const auto more = peer.Receive(1 << 20, 2);
        rest.insert(rest.end(), more.begin(), more.end());
        return rest.size() >= sent + 2;
    }, 30000));
    ASSERT_EQ(rest.size(), sent + 2);
    EXPECT_TRUE(std::equal(rest.begin(), rest.end() - 2, large.begin()));
    EXPECT_EQ(rest[rest.size() - 2], 'o');
    DeleteFileW(path.c_str());
}

// With Reconnect ticked, a lost peer leaves the window connected while the
// link tries again; a send meanwhile is refused; Disconnect ends it at once.
TEST_F(SendWindow, ReconnectKeepsTheWindowConnectedUntilDisconnect)
{
    Item(IDC_RECONNECT).SetCheck(true);
    Click(IDC_RECONNECT);
    ASSERT_TRUE(ConnectToPeer());
    peer.Close();
    ASSERT_TRUE(PumpUntil([&] { return Item(IDC_STATUS).Text().rfind(L"Reconnecting", 0) == 0; }, 5000));
    EXPECT_TRUE(dialog.Connected());
    EXPECT_EQ(Item(IDC_CONNECT).Text(), L"Disconnect");
    Item(IDC_SEND_EDIT).SetText(L"x");
    Click(IDC_SEND);
    EXPECT_EQ(Occurrences(Log(), L"ERR Send failed: no active transport.\r\n"), 1u);
    peer = listener.Accept(5000); // it came back by itself
    ASSERT_TRUE(peer.Valid());
    ASSERT_TRUE(PumpUntil([&] { return Item(IDC_STATUS).Text() == L"TCP client connected"; }, 5000));
    Click(IDC_SEND);
    EXPECT_EQ(peer.Receive(1, 5000), (std::vector<uint8_t>{'x'}));
    Click(IDC_CONNECT);
    EXPECT_FALSE(dialog.Connected());
    EXPECT_FALSE(dialog.Controller().AnyWorker());
    EXPECT_TRUE(LoadReconnect());
}

// A megabyte of text in the send box: the box does not wrap words, which
// under Wine laid the whole text out again on every change.
TEST_F(SendWindow, AMegabyteInTheSendBoxKeepsTheWindowAnswering)
{
    std::wstring text;
    while (text.size() < (1 << 20))
        text += L"0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789 the quick brown fox\r\n";
    const ULONGLONG start = GetTickCount64();
    Item(IDC_SEND_EDIT).SetText(text);
    Item(IDC_SEND_EDIT).Send(EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"one more"));
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_LT(took, 10000u);
    EXPECT_EQ(size_t(Item(IDC_SEND_EDIT).Send(WM_GETTEXTLENGTH)), text.size() + 8);
}

// What came before Disconnect is shown before the line that says so, and
// nothing comes after it, however far behind the log was.
TEST_F(SendWindow, DisconnectShowsWhatCameBeforeItAndNothingAfter)
{
    ASSERT_TRUE(ConnectToPeer());
    const std::vector<uint8_t> flood(2 << 20, 'f');
    ASSERT_TRUE(peer.SendAll(flood));
    Sleep(300); // unhandled: the link holds back once its budget is spent
    Click(IDC_CONNECT);
    const std::wstring atDisconnect = Log();
    const size_t line = atDisconnect.rfind(L"SYS Disconnected.\r\n");
    ASSERT_NE(line, std::wstring::npos);
    EXPECT_EQ(line + wcslen(L"SYS Disconnected.\r\n"), atDisconnect.size()); // the last line
    const std::wstring rx = Item(IDC_RX_COUNT).Text();
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(Log(), atDisconnect);
    EXPECT_EQ(Item(IDC_RX_COUNT).Text(), rx);
}
