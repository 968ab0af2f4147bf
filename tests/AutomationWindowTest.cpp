#include "res/resource.h"
#include "settings/Framing.h"
#include "settings/LibraryStore.h"
#include "settings/SettingsStore.h"
#include "tests/DialogPump.h"
#include "tests/LoopbackPeer.h"
#include "ui/AutomationLayout.h"
#include "ui/AutomationWindow.h"
#include "ui/MainDlg.h"

#include <commctrl.h>
#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> B(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

class AutomationWindow : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteFileW(SettingsFilePath().c_str());
        DeleteFileW(LibraryFilePath().c_str());
        ASSERT_TRUE(dialog.Create());
    }
    void TearDown() override
    {
        dialog.Destroy();
        DeleteFileW(SettingsFilePath().c_str());
        DeleteFileW(LibraryFilePath().c_str());
    }
    Window Item(int id) const { return dialog.Item(id); }
    void Click(int id) { SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000)
    {
        return PumpDialogUntil(dialog, done, timeoutMs);
    }
    std::wstring Log()
    {
        PumpDialogUntilQuiet(dialog);
        SendMessageW(dialog.Handle(), WM_TIMER, 2, 0);
        return Item(IDC_LOG_EDIT).Text();
    }
    bool LogHas(const std::wstring& text)
    {
        return PumpUntil([&] {
            SendMessageW(dialog.Handle(), WM_TIMER, 2, 0);
            return Item(IDC_LOG_EDIT).Text().find(text) != std::wstring::npos;
        });
    }
    // What the peer got while the window ran.
    std::vector<uint8_t> Receive(PeerSocket& peer, size_t count, int timeoutMs = 5000)
    {
        std::vector<uint8_t> got;
        PumpUntil(
            [&] {
                const std::vector<uint8_t> part = peer.Receive(count - got.size(), 5);
                got.insert(got.end(), part.begin(), part.end());
                return got.size() >= count;
            },
            timeoutMs);
        return got;
    }
    void Choose(int comboId, int position)
    {
        Item(comboId).Select(position);
        SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(Item(comboId).Handle()));
    }
    static Step ParsedStep(const wchar_t* text)
    {
        Step step;
        EXPECT_EQ(ParseStep(text, step), L"") << text;
        return step;
    }

    CMainDlg dialog;
};

} // namespace

// A sequence against a peer: its send arrives, its wait is met by the
// peer's answer, a wait that nothing meets stops it with its totals; a
// command goes out on its key.
TEST_F(AutomationWindow, ASequenceSendsWaitsForTheReplyAndStopsAtATimeOut)
{
    Library library;
    library.commands.push_back(Command{L"Hello", L"", PayloadForm{false, L"HELLO", false, LineEnding::CrLf},
                                       Shortcut{4, true}});
    library.sequences.push_back(Sequence{L"Check", 1,
                                         {ParsedStep(L"send Hello"), ParsedStep(L"wait up to 3000 for contains OK"),
                                          ParsedStep(L"send hex: 01 02"), ParsedStep(L"wait 30"),
                                          ParsedStep(L"wait up to 150 for exact NEVER")}});
    dialog.AutomationPart().ChangeLibrary(library);
    Library stored;
    ASSERT_EQ(LoadAutomationLibrary(stored), L"");
    EXPECT_EQ(stored, library);

    Listener listener;
    Item(IDC_PORT_EDIT).SetText(std::to_wstring(listener.Port()));
    Click(IDC_CONNECT);
    PeerSocket peer = listener.Accept(5000);
    ASSERT_TRUE(peer.Valid());
    ASSERT_TRUE(PumpUntil([&] { return Item(IDC_STATUS).Text() == L"TCP client connected"; }));

    dialog.AutomationPart().RunSequence(0);
    EXPECT_EQ(Receive(peer, 7), B("HELLO\r\n"));
    EXPECT_TRUE(Receive(peer, 1, 200).empty()); // it waits for the answer
    ASSERT_TRUE(peer.SendAll(B("OK\r\n")));
    EXPECT_EQ(Receive(peer, 2), (std::vector<uint8_t>{1, 2}));
    ASSERT_TRUE(LogHas(L"a wait timed out"));
    const std::wstring log = Log();
    EXPECT_NE(log.find(L"SYS Sequence \"Check\" step 1 of 5: sent \"Hello\" (7 bytes)."), std::wstring::npos);
    EXPECT_NE(log.find(L"step 2 of 5: contains \"OK\" came "), std::wstring::npos);
    EXPECT_NE(log.find(L"ERR Sequence \"Check\" step 5 of 5: no message matched exact \"NEVER\" within 150 ms."),
              std::wstring::npos);
    EXPECT_NE(log.find(L"4 steps done, 1 wait met, 1 time-out."), std::wstring::npos);
    EXPECT_LT(log.find(L"TX  HELLO"), log.find(L"sent \"Hello\""));

    // Shift+F4 is the command's key.
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    MSG key{};
    key.hwnd = Item(IDC_LOG_EDIT).Handle();
    key.message = WM_KEYDOWN;
    key.wParam = VK_F4;
    EXPECT_TRUE(dialog.PreTranslateMessage(key));
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ(Receive(peer, 7), B("HELLO\r\n"));

    // A sequence that runs when its link ends stops with it.
    library.sequences[0].steps = {ParsedStep(L"wait 10000")};
    dialog.AutomationPart().ChangeLibrary(library);
    dialog.AutomationPart().RunSequence(0);
    peer.Close();
    ASSERT_TRUE(LogHas(L"Sequence \"Check\" stopped at step 1 of 1: the link has ended."));
}

// A server that answers like a device: each client's request, even one that
// comes in two reads, is answered once, on that client's own connection,
// with its own transaction id; the rule counts them.
TEST_F(AutomationWindow, TheResponderAnswersEachClientOnItsOwnConnection)
{
    FramingOptions lines;
    lines.mode = FramingMode::Lines;
    SaveFraming(FramedLink::Tcp, lines);
    Library library;
    library.rules.push_back(ResponderRule{L"read", true, MatchKind::Regex, L"^READ (\\d+)",
                                          PayloadForm{false, L"VALUE {1}=42\\n", true}});
    library.rules.push_back(ResponderRule{L"never", false, MatchKind::Contains, L"READ", PayloadForm{false, L"NO"}});
    dialog.AutomationPart().ChangeLibrary(library);
    dialog.AutomationPart().SetResponderOn(true);

    const uint16_t port = ClosedLoopbackPort();
    Choose(IDC_MODE_COMBO, 1);
    Item(IDC_PORT_EDIT).SetText(std::to_wstring(port));
    Click(IDC_CONNECT);
    ASSERT_TRUE(PumpUntil([&] { return Item(IDC_STATUS).Text() == L"TCP server listening on " + std::to_wstring(port); }));
    PeerSocket clients[3];
    for (PeerSocket& client : clients)
        client = ConnectTo(L"127.0.0.1", port);
    ASSERT_TRUE(PumpUntil([&] { return Item(IDC_CLIENT_LIST).Send(LB_GETCOUNT) == 3; }));
    ASSERT_TRUE(clients[0].SendAll(B("READ 1")));
    ASSERT_TRUE(clients[2].SendAll(B("READ 3\r\n")));
    ASSERT_TRUE(clients[1].SendAll(B("READ 2\r\n")));
    EXPECT_EQ(Receive(clients[2], 11), B("VALUE 3=42\n"));
    EXPECT_EQ(Receive(clients[1], 11), B("VALUE 2=42\n"));
    EXPECT_TRUE(Receive(clients[0], 1, 300).empty()); // its line is not whole yet
    ASSERT_TRUE(clients[0].SendAll(B("\r\nnothing to answer\r\n")));
    EXPECT_EQ(Receive(clients[0], 11), B("VALUE 1=42\n"));
    for (PeerSocket& client : clients)
        EXPECT_TRUE(Receive(client, 1, 200).empty()); // one reply each
    EXPECT_EQ(dialog.AutomationPart().RuleMatches(0), 3u);
    EXPECT_EQ(dialog.AutomationPart().RuleMatches(1), 0u);
    ASSERT_TRUE(LogHas(L"SYS Rule 1 \"read\" answered 127.0.0.1:"));

    // The window shows the rules and their counts.
    dialog.AutomationPart().ShowWindow();
    CAutomationWnd* window = dialog.AutomationPart().WindowShown();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsWindowVisible(window->Handle()));
    window->SelectTab(CAutomationWnd::Tab::Rules);
    dialog.AutomationPart().Refresh();
    wchar_t count[16] = {};
    LVITEMW cell{};
    cell.iSubItem = 1;
    cell.pszText = count;
    cell.cchTextMax = 16;
    SendMessageW(window->Item(IDC_AUTO_RULES).Handle(), LVM_GETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&cell));
    EXPECT_EQ(std::wstring(count), L"3");
}

// A listener answers each sender itself, not the one that sent last.
TEST_F(AutomationWindow, AListenerAnswersEachDatagramsSender)
{
    Library library;
    library.rules.push_back(ResponderRule{L"ping", true, MatchKind::Exact, L"PING", PayloadForm{false, L"PONG"}});
    dialog.AutomationPart().ChangeLibrary(library);
    dialog.AutomationPart().SetResponderOn(true);
    uint16_t port = 0;
    {
        UdpPeer probe; // a free UDP port, given back
        port = probe.Port();
    }
    Choose(IDC_COMM_COMBO, 1);
    Choose(IDC_MODE_COMBO, 1);
    Item(IDC_PORT_EDIT).SetText(std::to_wstring(port));
    Click(IDC_CONNECT);
    ASSERT_TRUE(PumpUntil([&] { return Item(IDC_STATUS).Text() == L"UDP listener started"; }));
    UdpPeer first, second;
    ASSERT_TRUE(first.SendTo(port, B("PING")));
    ASSERT_TRUE(second.SendTo(port, B("PING")));
    std::vector<uint8_t> got;
    for (UdpPeer* peer : {&first, &second}) {
        ASSERT_TRUE(PumpUntil([&] { return peer->Receive(got, 5); }));
        EXPECT_EQ(got, B("PONG"));
    }
    EXPECT_FALSE(first.Receive(got, 100));
}
