#include "hexview/HexView.h"
#include "logview/LogView.h"
#include "res/resource.h"
#include "settings/Framing.h"
#include "settings/SettingsStore.h"
#include "tests/EventWindow.h"
#include "text/Utf8.h"
#include "ui/MainDlg.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <thread>

namespace {

class LogWindow : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dialog.Create());
        Tick(); // "Ready."
    }
    Window Item(int id) const { return dialog.Item(id); }
    // A traffic line's text is made from its bytes: a text given for one is
    // what its bytes are.
    void Post(TransportEventKind kind, const std::wstring& text, std::vector<uint8_t> data = {})
    {
        if ((kind == TransportEventKind::Received || kind == TransportEventKind::Sent) && !text.empty())
            data = EncodeUtf8(text);
        PostMessageW(dialog.Handle(), WM_TRANSPORT_EVENT, 0,
                     reinterpret_cast<LPARAM>(NewEvent(kind, text, L"peer", 0, false, std::move(data))));
    }
    void PumpPosted()
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            if (msg.message != WM_TIMER) // ticks are sent by the test itself
                dialog.RouteMessage(msg);
    }
    void Tick() { SendMessageW(dialog.Handle(), WM_TIMER, 2, 0); }
    // A search or a save on the journal ends on a tick after its thread.
    void Settle()
    {
        for (int i = 0; i < 2500 && dialog.LogSide().Busy(); ++i) {
            Sleep(2);
            Tick();
        }
    }
    void ChooseTab(int index)
    {
        const HWND tabs = Item(IDC_LOG_TABS).Handle();
        TabCtrl_SetCurSel(tabs, index);
        NMHDR header{tabs, IDC_LOG_TABS, UINT(TCN_SELCHANGE)};
        SendMessageW(dialog.Handle(), WM_NOTIFY, IDC_LOG_TABS, reinterpret_cast<LPARAM>(&header));
    }
    std::wstring Edit() const { return Item(IDC_LOG_EDIT).Text(); }
    bool Shows(const std::wstring& part) const { return Edit().find(part) != std::wstring::npos; }

    CMainDlg dialog;
};

} // namespace

TEST_F(LogWindow, EventsReachTheLogAndTheCountersOnTheNextTick)
{
    Post(TransportEventKind::Received, L"hello", {'h', 'e', 'l', 'l', 'o'});
    PumpPosted();
    Tick();
    EXPECT_TRUE(Shows(L"RX  hello\r\n"));
    EXPECT_EQ(Item(IDC_RX_COUNT).Text(), L"RX: 5");
    EXPECT_EQ(Item(IDC_TX_COUNT).Text(), L"TX: 0");
    EXPECT_EQ(dialog.LogHexView()->Model().Size(), 5);
    EXPECT_EQ(dialog.LogView()->Model().LineCount(), 2u); // "Ready." and this
}

// A flood never leaves the queue empty, and the timer's message waits for
// that: the events themselves must keep the log and the counters moving.
TEST_F(LogWindow, EventsRefreshTheLogWhenNoTickComes)
{
    Sleep(150); // longer than a tick since the last refresh
    Post(TransportEventKind::Received, L"flood", {'f', 'l', 'o', 'o', 'd'});
    PumpPosted();
    EXPECT_EQ(Item(IDC_RX_COUNT).Text(), L"RX: 5");
    EXPECT_TRUE(Shows(L"RX  flood\r\n"));
}

TEST_F(LogWindow, HexTabShowsTheBytesAndAsciiTheLinesAgain)
{
    ChooseTab(1);
    EXPECT_FALSE(Item(IDC_LOG_EDIT).Visible());
    EXPECT_TRUE(IsWindowVisible(dialog.LogHexView()->Handle()) || !IsWindowVisible(dialog.Handle()));
    Post(TransportEventKind::Received, L"while hidden", {1, 2, 3});
    PumpPosted();
    Tick();
    EXPECT_EQ(Item(IDC_RX_COUNT).Text(), L"RX: 12"); // the counters still move

    // Each block has its row; the one under the mouse is named in the status
    // text until the mouse leaves, and the link's status comes back.
    Post(TransportEventKind::Sent, L"", {4, 5});
    PumpPosted();
    Tick();
    const HexModel& hex = dialog.LogHexView()->Model();
    EXPECT_EQ(hex.TotalRows(), 2);
    const std::wstring status = Item(IDC_STATUS).Text();
    SendMessageW(dialog.LogHexView()->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(hex.HexCellX(1), hex.LineHeight() + 1));
    const std::wstring pointed = Item(IDC_STATUS).Text();
    EXPECT_EQ(pointed.substr(0, 3), L"TX ");
    EXPECT_NE(pointed.find(L"byte 2 of 2"), std::wstring::npos) << pointed;
    SendMessageW(dialog.LogHexView()->Handle(), WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(Item(IDC_STATUS).Text(), status);
    ChooseTab(0);
    EXPECT_TRUE(Item(IDC_LOG_EDIT).Visible());
    EXPECT_TRUE(Shows(L"RX  while hidden"));
}

// Traffic damaged by an unknown number of bytes shows as lost, with a line
// that says what happened and a tooltip line per cause.
TEST_F(LogWindow, CutDatagramsAndLineErrorsCountAsLost)
{
    auto cut = NewEvent(TransportEventKind::Received, L"abc", L"127.0.0.1:9", 0, false, {'a', 'b', 'c'});
    cut->damaged = 1;
    auto line = NewEvent(TransportEventKind::Error, L"Serial line: overrun (bytes lost), parity error.",
                                   L"COM7", 0, false, {});
    line->damaged = 2;
    PostMessageW(dialog.Handle(), WM_TRANSPORT_EVENT, 0, reinterpret_cast<LPARAM>(cut));
    PostMessageW(dialog.Handle(), WM_TRANSPORT_EVENT, 0, reinterpret_cast<LPARAM>(line));
    PumpPosted();
    Tick();
    EXPECT_TRUE(Shows(L"ERR A datagram from 127.0.0.1:9 was larger than the receive buffer: only its first 3 bytes "
                      L"were received."));
    EXPECT_TRUE(Item(IDC_LOST).Visible());
    EXPECT_EQ(Item(IDC_LOST).Text(), L"Lost: 0+");
    EXPECT_EQ(LostTipText(dialog.Log()),
              L"Datagrams cut short by the receive buffer: 1 (their missing bytes are unknown)\r\n"
              L"Serial line errors (overrun, overflow, parity, framing): 2");
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CLEAR, BN_CLICKED), 0);
    EXPECT_FALSE(Item(IDC_LOST).Visible());
}

TEST_F(LogWindow, NulInReceivedTextHidesNothing)
{
    Post(TransportEventKind::Received, std::wstring(L"before\0after", 12), {'x'});
    PumpPosted();
    Tick();
    EXPECT_TRUE(Shows(std::wstring(L"before") + kNulPlaceholder + L"after\r\n"));
    Post(TransportEventKind::Status, L"later line");
    PumpPosted();
    Tick();
    EXPECT_TRUE(Shows(L"SYS later line"));
    ChooseTab(1);
    ChooseTab(0); // nothing new: no reload needed, text unchanged
    EXPECT_TRUE(Shows(L"after\r\n"));
}

// The old log went wrong when a trim and a long block came in one tick: it
// appended a tail from a length that no longer matched its text.
TEST_F(LogWindow, ATrimAndALongBlockInOneTickShowExactlyTheNewestLines)
{
    LogModel::Limits limits;
    limits.lines = 5000;
    dialog.LogView()->Model().SetLimits(limits);
    // A received line's text is made again from its bytes once it is no
    // longer among the newest: the two must agree, as the links' do.
    for (int i = 0; i < 5000; ++i) {
        const std::string text = "short " + std::to_string(i);
        Post(TransportEventKind::Received, std::wstring(text.begin(), text.end()),
             std::vector<uint8_t>(text.begin(), text.end()));
    }
    const std::wstring block(60026, L'z');
    Post(TransportEventKind::Received, block, std::vector<uint8_t>(block.size(), 'z'));
    PumpPosted();
    Tick();
    const std::wstring text = Edit();
    EXPECT_EQ(size_t(GetWindowTextLengthW(Item(IDC_LOG_EDIT).Handle())), text.size());
    EXPECT_EQ(dialog.LogView()->Model().LineCount(), 5000u);
    EXPECT_NE(text.find(L"RX  short 1\r\n"), std::wstring::npos); // the oldest line kept
    EXPECT_EQ(text.find(L"RX  short 0\r\n"), std::wstring::npos);
    EXPECT_EQ(text.substr(text.size() - block.size() - 2), block + L"\r\n");
    Item(IDC_FIND_EDIT).SetText(L"short 4999");
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_FIND_NEXT, BN_CLICKED), 0);
    const LogModel& model = dialog.LogView()->Model();
    EXPECT_EQ(model.SelectedText(dialog.LogView()->Options()), L"short 4999");
}

TEST_F(LogWindow, ClearEmptiesEverything)
{
    Post(TransportEventKind::Received, L"data", {1, 2});
    PumpPosted();
    Tick();
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CLEAR, BN_CLICKED), 0);
    EXPECT_EQ(Edit(), L"");
    EXPECT_EQ(Item(IDC_RX_COUNT).Text(), L"RX: 0");
    EXPECT_EQ(dialog.Log().m_journal.Size(), 0u);
    EXPECT_TRUE(dialog.LogHexView()->Model().Data().empty());
    Tick();
    EXPECT_EQ(Edit(), L"");
    Post(TransportEventKind::Status, L"fresh");
    PumpPosted();
    Tick();
    EXPECT_EQ(Edit().find(L"SYS fresh"), Edit().size() - 11);
}

TEST_F(LogWindow, FindNextInTextAndBytes)
{
    Post(TransportEventKind::Received, L"OK one", {'O', 'K', '1'});
    Post(TransportEventKind::Received, L"OK two", {'O', 'K', '2'});
    PumpPosted();
    Tick();
    Item(IDC_FIND_EDIT).SetText(L"OK");
    LogModel& model = dialog.LogView()->Model();
    model.SetCaret(LogPosition{model.FirstLine(), 0}, false);
    // Enter in the Find box runs Find Next, and the box keeps the focus, so
    // that the next Enter finds the next match.
    SetFocus(Item(IDC_FIND_EDIT).Handle());
    SendMessageW(dialog.Handle(), WM_COMMAND, IDOK, 0);
    EXPECT_EQ(model.SelectedText(dialog.LogView()->Options()), L"OK");
    EXPECT_NE(model.LineText(model.Caret().line, dialog.LogView()->Options()).find(L"RX  OK one"), std::wstring::npos);
    EXPECT_EQ(GetFocus(), Item(IDC_FIND_EDIT).Handle());
    SendMessageW(dialog.Handle(), WM_COMMAND, IDOK, 0);
    EXPECT_NE(model.LineText(model.Caret().line, dialog.LogView()->Options()).find(L"RX  OK two"), std::wstring::npos);
    EXPECT_EQ(GetFocus(), Item(IDC_FIND_EDIT).Handle());
    // Matches that arrive meanwhile are walked through in turn, then it wraps.
    Post(TransportEventKind::Received, L"OK three", {'O', 'K', '3'});
    PumpPosted();
    Tick();
    const auto found = [&] {
        SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_FIND_NEXT, BN_CLICKED), 0);
        return model.LineText(model.Caret().line, dialog.LogView()->Options());
    };
    EXPECT_NE(found().find(L"RX  OK three"), std::wstring::npos);
    EXPECT_NE(found().find(L"RX  OK one"), std::wstring::npos);
    EXPECT_NE(found().find(L"RX  OK two"), std::wstring::npos);
    EXPECT_NE(found().find(L"RX  OK three"), std::wstring::npos);
    EXPECT_EQ(GetFocus(), Item(IDC_LOG_EDIT).Handle());
    Item(IDC_FIND_EDIT).SetText(L"nowhere");
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_FIND_NEXT, BN_CLICKED), 0);
    EXPECT_EQ(Item(IDC_STATUS).Text(), L"\"nowhere\" not found");
    EXPECT_NE(model.LineText(model.Caret().line, dialog.LogView()->Options()).find(L"RX  OK three"), std::wstring::npos);
    Item(IDC_FIND_EDIT).SetText(L"OK");
    EXPECT_FALSE(dialog.Ended());

    ChooseTab(1);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_FIND_NEXT, BN_CLICKED), 0);
    Settle();
    EXPECT_EQ(dialog.LogHexView()->Model().SelAnchor(), 0);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_FIND_NEXT, BN_CLICKED), 0);
    Settle();
    EXPECT_EQ(dialog.LogHexView()->Model().SelAnchor(), 6);
    EXPECT_EQ(dialog.LogHexView()->Model().SelEnd(), 7);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_FIND_NEXT, BN_CLICKED), 0);
    Settle();
    EXPECT_EQ(dialog.LogHexView()->Model().SelAnchor(), 12);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_FIND_NEXT, BN_CLICKED), 0);
    Settle();
    EXPECT_EQ(dialog.LogHexView()->Model().SelAnchor(), 0);
    EXPECT_EQ(GetFocus(), dialog.LogHexView()->Handle());
}

TEST_F(LogWindow, ContextMenuCommandsAndRememberedOptions)
{
    // The options the log reads are written out when missing.
    EXPECT_EQ(ReadSettingInt(L"Options", L"LogLines", -1), 100000);
    EXPECT_EQ(ReadSettingInt(L"Options", L"Milliseconds", -1), 0);
    const auto command = [&](int id) { SendMessageW(dialog.Handle(), WM_COMMAND, id, 0); };

    const size_t plain = Edit().find(L"] SYS Ready.");
    command(IDM_LOG_MILLISECONDS);
    EXPECT_EQ(Edit().find(L"] SYS Ready."), plain + 4); // ".mmm" before the bracket
    EXPECT_EQ(ReadSettingInt(L"Options", L"Milliseconds", -1), 1);
    command(IDM_LOG_MILLISECONDS);
    EXPECT_EQ(Edit().find(L"] SYS Ready."), plain);

    command(IDM_LOG_SELECT_ALL);
    command(IDM_LOG_COPY);
    EXPECT_EQ(ClipboardText(dialog.Handle()) + L"\r\n", Edit());

    Post(TransportEventKind::Received, L"hi", {'h', 'i'});
    PumpPosted();
    command(IDM_LOG_RECEIVED_HEX);
    EXPECT_TRUE(Shows(L"RX  68 69\r\n"));
    EXPECT_EQ(ReadSettingInt(L"Options", L"ReceivedAsHex", -1), 1);
    command(IDM_LOG_RECEIVED_HEX);
    EXPECT_TRUE(Shows(L"RX  hi\r\n"));

    // A sent text's checksum is never read as text; as hex it is its bytes.
    TransportEvent sent;
    sent.kind = TransportEventKind::Sent;
    sent.data = {'A', 'T', 0x95, '\r'};
    sent.sendTag.checksumFrom = 2;
    sent.sendTag.checksumCount = 1;
    dialog.LogSide().Append(std::move(sent), false);
    EXPECT_TRUE(Shows(L"TX  AT\\x95\r\r\n"));
    command(IDM_LOG_SENT_HEX);
    EXPECT_TRUE(Shows(L"TX  41 54 95 0D\r\n"));
    EXPECT_EQ(ReadSettingInt(L"Options", L"SentAsHex", -1), 1);
    command(IDM_LOG_SENT_HEX);

    command(IDM_LOG_AUTOSCROLL);
    EXPECT_FALSE(Item(IDC_AUTOSCROLL).Checked());
    command(IDM_LOG_CLEAR);
    EXPECT_EQ(Edit(), L"");
}

// While the link runs, a recording takes the log's lines or the received
// bytes as they come; a disk that fills up ends it with an error line, and
// the log goes on.
TEST_F(LogWindow, RecordingWritesWhatComesAndAFullDiskEndsIt)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring stem = std::wstring(temp) + L"ferrolink-rec-" + std::to_wstring(GetTickCount64());
    const auto contents = TakeFileContents;
    LogPane& pane = dialog.LogSide();

    ASSERT_TRUE(pane.StartRecording(stem + L".log"));
    Post(TransportEventKind::Received, L"hello", {'h', 'i'});
    PumpPosted();
    Tick();
    EXPECT_TRUE(Item(IDC_RECORD_STATUS).Visible());
    EXPECT_EQ(Item(IDC_RECORD).Text(), L"Stop");
    pane.StopRecording();
    EXPECT_FALSE(Item(IDC_RECORD_STATUS).Visible());
    EXPECT_NE(contents(stem + L".log").find("RX  hello\r\n"), std::string::npos);

    ASSERT_TRUE(pane.StartRecording(stem + L".bin"));
    Post(TransportEventKind::Received, L"ab", {'a', 'b'});
    Post(TransportEventKind::Sent, L"sent", {'s'});
    Post(TransportEventKind::Received, L"c", {'c'});
    PumpPosted();
    pane.StopRecording();
    EXPECT_EQ(contents(stem + L".bin"), "abc");

    if (!pane.StartRecording(L"Z:\\dev\\full")) // Wine's way to the Unix device that is always full
        GTEST_SKIP() << "no always-full device here";
    for (int i = 0; i < 20; ++i)
        Post(TransportEventKind::Received, L"x", std::vector<uint8_t>(100, 'x'));
    PumpPosted();
    for (int i = 0; i < 100 && !pane.Recording().Failed(); ++i)
        Sleep(20);
    Tick();
    EXPECT_FALSE(pane.Recording().Recording());
    EXPECT_TRUE(Shows(L"ERR Recording to Z:\\dev\\full stopped: "));
    EXPECT_TRUE(Shows(L" bytes were not recorded ("));
    EXPECT_EQ(Item(IDC_RECORD).Text(), L"Record");
    Post(TransportEventKind::Received, L"still here", {'s'});
    PumpPosted();
    Tick();
    EXPECT_TRUE(Shows(L"RX  still here\r\n"));
    EXPECT_TRUE(Item(IDC_LOST).Visible()); // what the recording could not write counts as lost
    EXPECT_EQ(Item(IDC_LOST).Text(), L"Lost: " + std::to_wstring(pane.Recording().Unrecorded()));
}

// With framing, the log's lines are the device's messages, whatever the
// reads were; the journal keeps the reads as they came. What is held when
// the link ends is shown then.
TEST_F(LogWindow, ReceivedBlocksAreFramedIntoMessagesAndTheJournalKeepsTheReads)
{
    FramingOptions framing;
    framing.mode = FramingMode::Delimiter;
    framing.delimiter = {';'};
    dialog.LogSide().NewSession(JournalSession{}, framing, true);
    const size_t before = dialog.Log().m_journal.RecordCount();
    for (const std::string block : {"T1=2", "1;T2=1", "9;T3"}) {
        auto* event = NewEvent(TransportEventKind::Received, L"", L"peer", 0, false,
                                         std::vector<uint8_t>(block.begin(), block.end()));
        event->receivedUs = SteadyMicroseconds();
        SendMessageW(dialog.Handle(), WM_TRANSPORT_EVENT, 0, reinterpret_cast<LPARAM>(event));
    }
    Tick();
    EXPECT_TRUE(Shows(L"RX  T1=21;\r\n"));
    EXPECT_TRUE(Shows(L"RX  T2=19;\r\n"));
    EXPECT_FALSE(Shows(L"T3"));
    EXPECT_EQ(dialog.Log().m_journal.RecordCount(), before + 3);
    EXPECT_EQ(Item(IDC_RX_COUNT).Text(), L"RX: 14");
    SendMessageW(dialog.Handle(), WM_TRANSPORT_EVENT, 0,
                 reinterpret_cast<LPARAM>(NewEvent(TransportEventKind::Status, L"TCP client disconnected",
                                                             L"", 0, true, {})));
    Tick();
    EXPECT_NE(Edit().find(L"RX  T3\r\n"), std::wstring::npos);
    EXPECT_LT(Edit().find(L"RX  T3\r\n"), Edit().find(L"TCP client disconnected"));
}

// Bytes a framer holds stay right when the journal they were stored in is
// cleared, and come out before the line that says their connection went.
TEST_F(LogWindow, HeldBytesSurviveAClearAndComeOutWhenTheConnectionGoes)
{
    FramingOptions framing;
    framing.mode = FramingMode::Lines;
    dialog.LogSide().NewSession(JournalSession{}, framing, true);
    const auto receive = [&](const std::string& block) {
        auto* event = NewEvent(TransportEventKind::Received, L"", L"peer", 0, false,
                                         std::vector<uint8_t>(block.begin(), block.end()));
        event->receivedUs = SteadyMicroseconds();
        SendMessageW(dialog.Handle(), WM_TRANSPORT_EVENT, 0, reinterpret_cast<LPARAM>(event));
    };
    receive("ab");
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CLEAR, BN_CLICKED), 0);
    receive("c\n");
    receive("xy");
    Tick();
    EXPECT_TRUE(Shows(L"RX  abc\n\r\n"));
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CLEAR, BN_CLICKED), 0);
    auto* lost = NewEvent(TransportEventKind::Status, L"TCP client disconnected", L"", 0, false, {});
    lost->connectionLost = true;
    SendMessageW(dialog.Handle(), WM_TRANSPORT_EVENT, 0, reinterpret_cast<LPARAM>(lost));
    Tick();
    const std::wstring log = Edit();
    ASSERT_NE(log.find(L"RX  xy\r\n"), std::wstring::npos);
    // As hex the line shows its bytes: its own, not the emptied journal's.
    const LogModel& model = dialog.LogView()->Model();
    LogShowOptions hex;
    hex.receivedAsHex = true;
    EXPECT_NE(model.LineText(model.EndLine() - 2, hex).find(L"78 79"), std::wstring::npos);
    EXPECT_LT(log.find(L"RX  xy\r\n"), log.find(L"TCP client disconnected"));
}

// A dialog the log's menu opens is shown, with the focus in its box, and
// what is typed there is taken; a dialog left hidden once made the window
// look frozen while it waited for an answer nobody could see.
TEST_F(LogWindow, TheFramingDialogShowsWithTheFocusInItsBoxAndTakesTheAnswer)
{
    Item(IDC_COMM_COMBO).Select(0); // TCP
    struct Seen {
        bool found = false, visible = false, focusInBox = false;
    } seen;
    const DWORD windowThread = GetCurrentThreadId();
    std::thread user([&] {
        HWND found = nullptr;
        for (int i = 0; i < 500 && !found; ++i) {
            EnumThreadWindows(
                windowThread,
                [](HWND wnd, LPARAM param) {
                    wchar_t caption[32] = {};
                    GetWindowTextW(wnd, caption, 32);
                    if (std::wstring(caption) != L"Framing" || !GetDlgItem(wnd, IDC_FRAMING_VALUE))
                        return TRUE;
                    *reinterpret_cast<HWND*>(param) = wnd;
                    return FALSE;
                },
                reinterpret_cast<LPARAM>(&found));
            if (!found)
                Sleep(10);
        }
        if (!found)
            return; // nothing is waiting for an answer
        seen.found = true;
        seen.visible = IsWindowVisible(found) != FALSE;
        GUITHREADINFO gui{};
        gui.cbSize = sizeof(gui);
        seen.focusInBox = GetGUIThreadInfo(windowThread, &gui) && gui.hwndFocus == GetDlgItem(found, IDC_FRAMING_VALUE);
        SendMessageW(GetDlgItem(found, IDC_FRAMING_VALUE), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"3B"));
        PostMessageW(found, WM_COMMAND, IDOK, 0);
    });
    SendMessageW(dialog.Handle(), WM_COMMAND, IDM_LOG_FRAMING_FIRST + int(FramingMode::Delimiter), 0);
    user.join();
    EXPECT_TRUE(seen.found);
    EXPECT_TRUE(seen.visible);
    EXPECT_TRUE(seen.focusInBox);
    const FramingOptions chosen = LoadFraming(FramedLink::Tcp);
    EXPECT_EQ(chosen.mode, FramingMode::Delimiter);
    EXPECT_EQ(chosen.delimiter, std::vector<uint8_t>{';'});
}

// A save and a copy of the hex view run off the window's thread and end on
// a tick; Ctrl+A in the hex view selects every byte.
TEST_F(LogWindow, ASaveAndAHexCopyEndOnATickAndCtrlASelectsEveryByte)
{
    Post(TransportEventKind::Received, L"AB");
    Post(TransportEventKind::Received, L"C");
    PumpPosted();
    Tick();
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"ferrolink-job-" + std::to_wstring(GetTickCount64()) + L".bin";
    dialog.LogSide().SaveTo(path);
    Settle();
    EXPECT_FALSE(dialog.LogSide().Busy());
    EXPECT_EQ(Item(IDC_SAVE).Text(), L"Save");
    EXPECT_EQ(TakeFileContents(path), "ABC");

    ChooseTab(1);
    const HWND hex = dialog.LogHexView()->Handle();
    SendMessageW(hex, WM_CHAR, 1, 0);
    EXPECT_EQ(dialog.LogHexView()->Model().SelectedRange().count, 3u);
    SendMessageW(hex, WM_CHAR, 3, 0);
    Settle();
    EXPECT_EQ(ClipboardText(dialog.Handle()), L"41 42 43");
}
