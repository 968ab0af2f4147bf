#include "settings/ConnectionStore.h"
#include "settings/Framing.h"
#include "settings/History.h"
#include "settings/LogOptions.h"
#include "settings/SettingsStore.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

std::wstring Env(const wchar_t* name)
{
    wchar_t buffer[1024];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
    return n > 0 && n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

std::wstring ExeFolder()
{
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path = module;
    return path.substr(0, path.find_last_of(L'\\'));
}

// The file and any new one beside it.
void DeleteSettingsFiles()
{
    const std::wstring file = SettingsFilePath();
    const std::wstring folder = file.substr(0, file.find_last_of(L'\\') + 1);
    WIN32_FIND_DATAW found{};
    const HANDLE find = FindFirstFileW((file + L"*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do
        DeleteFileW((folder + found.cFileName).c_str());
    while (FindNextFileW(find, &found));
    FindClose(find);
}

// Each test starts from an empty file in this process's own folder.
class Settings : public testing::Test {
protected:
    void SetUp() override { DeleteSettingsFiles(); }
    void TearDown() override { DeleteSettingsFiles(); }

    void Put(const wchar_t* section, const wchar_t* key, const wchar_t* value)
    {
        WritePrivateProfileStringW(section, key, value, SettingsFilePath().c_str());
    }
    bool HasKey(const wchar_t* section, const wchar_t* key)
    {
        wchar_t buffer[64];
        GetPrivateProfileStringW(section, key, L"<none>", buffer, 64, SettingsFilePath().c_str());
        return std::wstring(buffer) != L"<none>";
    }
};

struct EnvironmentOverride {
    explicit EnvironmentOverride(const wchar_t* value) : saved(Env(L"LOCALAPPDATA"))
    {
        SetEnvironmentVariableW(L"LOCALAPPDATA", value);
    }
    ~EnvironmentOverride() { SetEnvironmentVariableW(L"LOCALAPPDATA", saved.c_str()); }
    std::wstring saved;
};

} // namespace

TEST(SettingsPath, UnderLocalAppData)
{
    const std::wstring base = Env(L"LOCALAPPDATA");
    ASSERT_FALSE(base.empty());
    EXPECT_EQ(SettingsFilePath(), base + L"\\Ferrolink\\Ferrolink.ini");
    EXPECT_NE(GetFileAttributesW((base + L"\\Ferrolink").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(SettingsPath, BesideTheExecutableWithoutUsableLocalAppData)
{
    const std::wstring expected = ExeFolder() + L"\\Ferrolink\\Ferrolink.ini";
    {
        EnvironmentOverride unset(nullptr);
        EXPECT_EQ(SettingsFilePath(), expected);
    }
    {
        const std::wstring tooLong = L"C:\\" + std::wstring(257, L'x'); // 260 characters
        EnvironmentOverride longValue(tooLong.c_str());
        EXPECT_EQ(SettingsFilePath(), expected);
    }
    {
        const std::wstring fits = Env(L"LOCALAPPDATA");
        EnvironmentOverride same(fits.c_str());
        EXPECT_NE(SettingsFilePath(), expected);
    }
    RemoveDirectoryW((ExeFolder() + L"\\Ferrolink").c_str());
}

TEST_F(Settings, PrimitivesReadBackWhatWasWritten)
{
    WriteSetting(L"S", L"Empty", L"");
    EXPECT_EQ(ReadSettingString(L"S", L"Empty", L"default"), L"");
    EXPECT_EQ(ReadSettingString(L"S", L"Missing", L"default"), L"default");
    WriteSetting(L"S", L"Long", std::wstring(5000, L'q'));
    EXPECT_EQ(ReadSettingString(L"S", L"Long", L""), std::wstring(4095, L'q'));
    WriteSettingInt(L"S", L"Negative", -42);
    EXPECT_EQ(ReadSettingInt(L"S", L"Negative", 7), -42);
    EXPECT_EQ(ReadSettingInt(L"S", L"Missing", 7), 7);
    WriteSetting(L"S", L"Garbage", L"abc");
    EXPECT_EQ(ReadSettingInt(L"S", L"Garbage", 7), 0);
    EXPECT_EQ(ReadSettingInt(L"S", L"Empty", 7), 0);
    WriteSetting(L"S", L"Quoted", L"\"in quotes\"");
    EXPECT_EQ(ReadSettingString(L"S", L"Quoted", L""), L"\"in quotes\"");
}

TEST_F(Settings, EmptyFileGivesTheDefaults)
{
    const ConnectionSettings s = LoadConnectionSettings();
    const ConnectionSettings d;
    EXPECT_EQ(s.useSerial, d.useSerial);
    EXPECT_EQ(s.isUdp, d.isUdp);
    EXPECT_EQ(s.isServer, d.isServer);
    EXPECT_EQ(s.ip, d.ip);
    EXPECT_EQ(s.port, d.port);
    EXPECT_EQ(s.serialPort, d.serialPort);
    EXPECT_EQ(s.baud, d.baud);
    EXPECT_EQ(s.dataBits, d.dataBits);
    EXPECT_EQ(s.stopBits, d.stopBits);
    EXPECT_EQ(s.parity, d.parity);
    EXPECT_EQ(s.flowControl, d.flowControl);
    RECT r{};
    EXPECT_FALSE(LoadWindowRect(r));
    EXPECT_TRUE(LoadSendHistory().empty());
}

TEST_F(Settings, ConnectionValuesAreNormalised)
{
    Put(L"Connection", L"Communication", L"2");
    Put(L"Connection", L"Protocol", L"7");
    Put(L"Connection", L"Port", L"70000");
    Put(L"Connection", L"Mode", L"-1");
    Put(L"Serial", L"DataBits", L"263");
    Put(L"Serial", L"Baud", L"9600");
    ConnectionSettings s = LoadConnectionSettings();
    EXPECT_EQ(s.useSerial, 0u);
    EXPECT_EQ(s.isUdp, 1u);
    EXPECT_EQ(s.port, 4464);
    EXPECT_EQ(s.isServer, 1u);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.baud, 9600u);
    SaveConnectionSettings(s);
    EXPECT_EQ(ReadSettingString(L"Connection", L"Communication", L""), L"0");
    EXPECT_EQ(ReadSettingString(L"Connection", L"Protocol", L""), L"1");
    EXPECT_EQ(ReadSettingString(L"Connection", L"Mode", L""), L"1");
    EXPECT_EQ(ReadSettingString(L"Connection", L"Port", L""), L"4464");

    s.useSerial = 1;
    s.serialPort = L"COM7";
    s.flowControl = 2;
    s.ip = L"::1";
    SaveConnectionSettings(s);
    const ConnectionSettings back = LoadConnectionSettings();
    EXPECT_EQ(back.useSerial, 1u);
    EXPECT_EQ(back.serialPort, L"COM7");
    EXPECT_EQ(back.flowControl, 2u);
    EXPECT_EQ(back.ip, L"::1");

    // The network options come back as saved; a password is never written.
    s.tls = true;
    s.net.localIp = L"127.0.0.2";
    s.net.localPort = 502;
    s.net.multicastGroup = L"239.1.2.3";
    s.net.multicastTtl = 8;
    s.net.multicastLoopback = false;
    s.net.acceptAnyCertificate = true;
    s.net.certificateFile = L"C:\\certs\\a.pfx";
    s.certificatePassword = L"secret-word";
    SaveConnectionSettings(s);
    const ConnectionSettings network = LoadConnectionSettings();
    EXPECT_TRUE(network.tls);
    EXPECT_EQ(network.net, s.net);
    EXPECT_TRUE(network.certificatePassword.empty());
    std::string file;
    const HANDLE h = CreateFileW(SettingsFilePath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(h, chunk, sizeof(chunk), &got, nullptr) && got)
        file.append(chunk, got);
    CloseHandle(h);
    const std::wstring word = L"secret-word";
    EXPECT_EQ(file.find("secret-word"), std::string::npos);
    EXPECT_EQ(file.find(std::string(reinterpret_cast<const char*>(word.data()), word.size() * 2)), std::string::npos);
    Put(L"Network", L"MulticastTTL", L"300");
    Put(L"Network", L"LocalPort", L"70000");
    EXPECT_EQ(LoadConnectionSettings().net.multicastTtl, 1);
    EXPECT_EQ(LoadConnectionSettings().net.localPort, 0);
}

TEST_F(Settings, SavesLeaveForeignKeysAlone)
{
    Put(L"Connection", L"Extra", L"keep me");
    Put(L"Other", L"Key", L"mine");
    Put(L"History", L"Note", L"foreign");
    SaveConnectionSettings(ConnectionSettings{});
    SaveWindowRect(RECT{0, 0, 1000, 700});
    SaveSendHistory({L"a"});
    AppendSendHistory(L"b");
    MergeSendHistory({L"c"});
    EXPECT_EQ(ReadSettingString(L"Connection", L"Extra", L""), L"keep me");
    EXPECT_EQ(ReadSettingString(L"Other", L"Key", L""), L"mine");
    EXPECT_EQ(ReadSettingString(L"History", L"Note", L""), L"foreign");
}

TEST_F(Settings, WindowRectangleRules)
{
    RECT r{};
    SaveWindowRect(RECT{-1600, -20, -700, 600}); // a monitor left of the primary one
    ASSERT_TRUE(LoadWindowRect(r));
    EXPECT_EQ(r.left, -1600);
    EXPECT_EQ(r.top, -20);
    EXPECT_EQ(r.right, -700);
    EXPECT_EQ(r.bottom, 600);

    SaveWindowRect(RECT{0, 0, 899, 700}); // too small: the stored one stays
    ASSERT_TRUE(LoadWindowRect(r));
    EXPECT_EQ(r.left, -1600);

    Put(L"Window", L"Right", L"899");
    Put(L"Window", L"Left", L"0");
    EXPECT_FALSE(LoadWindowRect(r)); // an 899-pixel rectangle is not restored
    Put(L"Window", L"Right", nullptr);
    EXPECT_FALSE(LoadWindowRect(r)); // one key missing
}

// What is sent is stored as it was: line breaks must not make lines of the
// file (a sent "[Connection]" line once became a section of its own), and
// quotes of either kind come back. Files of earlier versions read as before.
TEST_F(Settings, EveryTextRoundTripsAndNoneBreaksTheFile)
{
    SaveConnectionSettings(ConnectionSettings());
    const std::vector<std::wstring> texts = {
        L"line1\r\n[Connection]\r\nCommunication=1\r\nline3",
        L"'AT'", L"\"AT\"", L"'", L"\"x'", L"C:\\temp\\x41 \\r", L"tab\tinside", L"\x01\x1F bell\x07",
        L"\u00E9t\u00E9",
    };
    for (const std::wstring& text : texts)
        AppendSendHistory(text);
    HistoryList expected(texts.rbegin(), texts.rend());
    EXPECT_EQ(LoadSendHistory(), expected);
    EXPECT_EQ(LoadConnectionSettings().useSerial, 0u); // no second [Connection] section
    for (const std::wstring& text : {std::wstring(L" leading and trailing "), std::wstring(L"a\nb")}) {
        WriteSetting(L"S", L"Text", text);
        EXPECT_EQ(ReadSettingString(L"S", L"Text", L""), text);
    }

    // As earlier versions wrote them: plain, and a quoted text in one more pair.
    const std::wstring path = SettingsFilePath();
    WritePrivateProfileStringW(L"Old", L"Plain", L"C:\\x41\\n \\t", path.c_str());
    WritePrivateProfileStringW(L"Old", L"Quoted", L"\"\"hi\"\"", path.c_str());
    EXPECT_EQ(ReadSettingString(L"Old", L"Plain", L""), L"C:\\x41\\n \\t");
    EXPECT_EQ(ReadSettingString(L"Old", L"Quoted", L""), L"\"hi\"");
}

// Our own keys mean something only within their bounds: past them, or
// when they are no number, they read as the default; a missing one is
// written with it.
TEST_F(Settings, OwnKeysHaveBoundsAboveAndBelow)
{
    Put(L"Options", L"JournalMegabytes", L"2147483647");
    Put(L"Options", L"LogLines", L"12abc");
    Put(L"Options", L"LogCharacters", L" 100000 ");
    Put(L"Options", L"TcpClients", L"-5");
    Put(L"Options", L"UdpSenders", L"99999999999999");
    const LogOptions options = LoadLogOptions();
    const LogOptions defaults;
    EXPECT_EQ(options.journalMegabytes, defaults.journalMegabytes);
    EXPECT_EQ(options.lines, defaults.lines);
    EXPECT_EQ(options.characters, 100000);
    EXPECT_EQ(options.tcpClients, defaults.tcpClients);
    EXPECT_EQ(options.udpSenders, defaults.udpSenders);
    EXPECT_EQ(options.journalDiskMegabytes, defaults.journalDiskMegabytes);
    EXPECT_TRUE(HasKey(L"Options", L"JournalDiskMegabytes"));
    const BoundedOption clients{L"TcpClients", 4096, 1, 65536};
    EXPECT_EQ(ReadBoundedOption(L"65536", clients), 65536);
    EXPECT_EQ(ReadBoundedOption(L"65537", clients), 4096);
    EXPECT_EQ(ReadBoundedOption(L"0", clients), 4096);
    EXPECT_EQ(ReadBoundedOption(L"", clients), 4096);
}

TEST(HistoryList, AddRules)
{
    HistoryList list;
    AddToHistoryList(list, L"  hello \t");
    AddToHistoryList(list, L"   ");
    AddToHistoryList(list, L"");
    AddToHistoryList(list, L"Hello");
    AddToHistoryList(list, L"world");
    AddToHistoryList(list, L"hello");
    EXPECT_EQ(list, (HistoryList{L"hello", L"world", L"Hello"}));
    for (int i = 0; i < 101; ++i)
        AddToHistoryList(list, L"n" + std::to_wstring(i));
    EXPECT_EQ(list.size(), 100u);
    EXPECT_EQ(list.front(), L"n100");
    EXPECT_EQ(list.back(), L"n1");
}

TEST_F(Settings, HistoryAppendsAndSaves)
{
    AppendSendHistory(L"  first  ");
    AppendSendHistory(L"second");
    AppendSendHistory(L"first");
    AppendSendHistory(L"FIRST");
    AppendSendHistory(L"   ");
    EXPECT_EQ(LoadSendHistory(), (HistoryList{L"FIRST", L"first", L"second"}));
    for (int i = 0; i < 101; ++i)
        AppendSendHistory(L"t" + std::to_wstring(i));
    const HistoryList list = LoadSendHistory();
    EXPECT_EQ(list.size(), 100u);
    EXPECT_EQ(list.front(), L"t100");
    EXPECT_EQ(ReadSettingInt(L"History", L"Count", 0), 100);

    SaveSendHistory({L"\"quoted\"", L"  "});
    EXPECT_EQ(LoadSendHistory(), (HistoryList{L"\"quoted\""}));
    SaveSendHistory({L"x", L" y ", L"x", L""});
    EXPECT_EQ(LoadSendHistory(), (HistoryList{L"y", L"x"})); // a repeated entry keeps its later place
    EXPECT_EQ(ReadSettingInt(L"History", L"Count", 0), 2);
    for (int i = 0; i < 100; ++i)
        EXPECT_TRUE(HasKey(L"History", (L"Item" + std::to_wstring(i)).c_str())) << i;
    EXPECT_EQ(ReadSettingString(L"History", L"Item2", L"?"), L"");

    // A text the file would give back cut short is not kept at all, or a
    // later session would send it cut short.
    const std::wstring longest(4095, L'a'), tooLong(4096, L'a'), escapedTooLong(2100, L'\n');
    SaveSendHistory({longest, tooLong, escapedTooLong});
    EXPECT_EQ(LoadSendHistory(), (HistoryList{longest}));
}

TEST_F(Settings, StoredHistoryIsReadDefensively)
{
    for (int i = 0; i < 120; ++i)
        Put(L"History", (L"Item" + std::to_wstring(i)).c_str(), (L"v" + std::to_wstring(i)).c_str());
    Put(L"History", L"Count", L"250");
    HistoryList list = LoadSendHistory();
    EXPECT_EQ(list.size(), 100u);
    EXPECT_EQ(list.back(), L"v99");
    Put(L"History", L"Count", L"-3");
    EXPECT_TRUE(LoadSendHistory().empty());

    Put(L"History", L"Count", L"9");
    Put(L"History", L"Item3", L"same");
    Put(L"History", L"Item7", L"same");
    Put(L"History", L"Item5", L"   ");
    Put(L"History", L"item8", L"  \"v8\"  "); // keys in any case; quotes and blanks as a single read gives them
    list = LoadSendHistory();
    EXPECT_EQ(list, (HistoryList{L"v0", L"v1", L"v2", L"v4", L"v6", L"same", L"v8"}));
}

TEST_F(Settings, CloseTimeMergesKeepEachOthersEntries)
{
    SaveSendHistory({L"old"});
    // Two windows loaded "old", then each sent something of its own.
    AppendSendHistory(L"from A");
    AppendSendHistory(L"from B");
    MergeSendHistory({L"from A", L"old"});
    MergeSendHistory({L"from B", L"old"});
    EXPECT_EQ(LoadSendHistory(), (HistoryList{L"from B", L"old", L"from A"}));

    HistoryList full;
    for (int i = 0; i < 100; ++i)
        full.push_back(L"w" + std::to_wstring(i));
    MergeSendHistory(full);
    const HistoryList merged = LoadSendHistory();
    EXPECT_EQ(merged.size(), 100u);
    EXPECT_EQ(merged, full);
}

namespace {

HANDLE StartHelper(const std::wstring& arguments)
{
    std::wstring command = L"\"" + ExeFolder() + L"\\ferrolink_settings_helper.exe\" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

} // namespace

TEST_F(Settings, ConcurrentAppendsFromSeveralProcessesLoseNothing)
{
    std::vector<HANDLE> helpers;
    for (const wchar_t* tag : {L"p1", L"p2", L"p3", L"p4"}) {
        const HANDLE h = StartHelper(std::wstring(L"append ") + tag + L" 20");
        ASSERT_NE(h, nullptr) << GetLastError();
        helpers.push_back(h);
    }
    const DWORD done = WaitForMultipleObjects(DWORD(helpers.size()), helpers.data(), TRUE, 50000);
    for (HANDLE h : helpers) {
        if (done == WAIT_TIMEOUT)
            TerminateProcess(h, 1);
        CloseHandle(h);
    }
    ASSERT_NE(done, WAIT_TIMEOUT);
    const HistoryList list = LoadSendHistory();
    EXPECT_EQ(list.size(), 80u);
    for (const wchar_t* tag : {L"p1", L"p2", L"p3", L"p4"})
        for (int i = 0; i < 20; ++i)
            EXPECT_NE(std::find(list.begin(), list.end(), std::wstring(tag) + L"-" + std::to_wstring(i)), list.end());
}

namespace {

std::vector<std::wstring> Drafts()
{
    const std::wstring file = SettingsFilePath();
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE find = FindFirstFileW((file + L".*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

// The generation every saved value agrees on, or -1 when they disagree;
// read as one load, while a helper may still be saving.
int SavedGeneration()
{
    SettingsLock load;
    const int generation = LoadConnectionSettings().port;
    RECT rect{};
    if (!LoadWindowRect(rect) || rect.left != generation)
        return -1;
    if (LoadConnectionSettings().ip != L"10.0.0." + std::to_wstring(generation % 256))
        return -1;
    const HistoryList history = LoadSendHistory();
    if (history.size() != 20)
        return -1;
    for (size_t i = 0; i < history.size(); ++i)
        if (history[i] != std::to_wstring(generation) + L"-" + std::to_wstring(i))
            return -1;
    return generation;
}

} // namespace

// A copy killed at any moment of its saves leaves the file it found or the
// one it was writing, whole; what it was writing is swept at the next start.
TEST_F(Settings, AKillDuringSavesLeavesTheOldFileOrTheNewWhole)
{
    const HANDLE saving = CreateEventW(nullptr, TRUE, FALSE, L"Local\\FerrolinkTestSaving");
    ASSERT_NE(saving, nullptr);
    {
        const HANDLE helper = StartHelper(L"save 1");
        ASSERT_NE(helper, nullptr) << GetLastError();
        WaitForSingleObject(saving, 20000);
        for (const ULONGLONG end = GetTickCount64() + 20000; SavedGeneration() < 1 && GetTickCount64() < end;)
            Sleep(10);
        TerminateProcess(helper, 1);
        WaitForSingleObject(helper, 5000);
        CloseHandle(helper);
    }
    int generation = SavedGeneration();
    ASSERT_GE(generation, 1);
    srand(GetTickCount());
    int advanced = 0, draftsLeft = 0;
    for (int kill = 0; kill < 25; ++kill) {
        ResetEvent(saving);
        const HANDLE helper = StartHelper(L"save " + std::to_wstring(generation + 1));
        ASSERT_NE(helper, nullptr) << GetLastError();
        const bool started = WaitForSingleObject(saving, 20000) == WAIT_OBJECT_0;
        Sleep(DWORD(rand() % 40));
        TerminateProcess(helper, 1);
        WaitForSingleObject(helper, 5000);
        CloseHandle(helper);
        ASSERT_TRUE(started);

        const int now = SavedGeneration();
        ASSERT_GE(now, generation) << "kill " << kill << " left a mixed or empty file";
        advanced += now > generation;
        generation = now;
        draftsLeft += int(Drafts().size() > 1);
        RemoveStaleSettingsDrafts();
        EXPECT_EQ(Drafts(), std::vector<std::wstring>{L"Ferrolink.ini"});
    }
    CloseHandle(saving);
    EXPECT_GT(advanced, 0);
    // How often a kill landed mid-save, for whoever wonders.
    std::printf("%d of 25 kills advanced the file, %d left a draft\n", advanced, draftsLeft);
}

// The old file stays when the new one cannot be made or cannot take its
// place, and the window is told why.
TEST_F(Settings, AFailedSaveKeepsTheOldFileAndSaysSo)
{
    struct Holder {
        const char* what;
        DWORD share;
    };
    // Another program has the file open: one lets it be read but not
    // replaced; one lets nobody read it, so there is nothing to start from.
    for (const Holder holder : {Holder{"not replaceable", FILE_SHARE_READ | FILE_SHARE_WRITE}, Holder{"not readable", 0}}) {
        SaveConnectionSettings({});
        const HANDLE held = CreateFileW(SettingsFilePath().c_str(), GENERIC_READ, holder.share, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        std::vector<std::wstring> reports;
        SetSettingsSaveFailureReport([&](const std::wstring& message) { reports.push_back(message); });
        ConnectionSettings changed;
        changed.ip = L"10.9.8.7";
        SaveConnectionSettings(changed);
        SetSettingsSaveFailureReport(nullptr);
        CloseHandle(held);
        ASSERT_EQ(reports.size(), 1u) << holder.what;
        EXPECT_EQ(reports[0].rfind(L"Settings not saved: ", 0), 0u) << reports[0];
        EXPECT_EQ(LoadConnectionSettings().ip, ConnectionSettings{}.ip) << holder.what;
        EXPECT_EQ(LoadConnectionSettings().port, ConnectionSettings{}.port) << holder.what;
        EXPECT_EQ(Drafts(), std::vector<std::wstring>{L"Ferrolink.ini"}) << holder.what;
    }
}

// A draft is swept only when the copy that wrote it has gone: a running one
// may be saving without the lock after its wait gave up.
TEST_F(Settings, TheSweepLeavesTheDraftOfACopyThatRuns)
{
    SaveConnectionSettings({});
    const std::wstring running = SettingsFilePath() + L"." + std::to_wstring(GetCurrentProcessId()) + L"-9.tmp";
    const std::wstring gone = SettingsFilePath() + L".4294967292-9.tmp"; // far above any process id
    for (const std::wstring& draft : {running, gone})
        CloseHandle(CreateFileW(draft.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    RemoveStaleSettingsDrafts();
    EXPECT_NE(GetFileAttributesW(running.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(gone.c_str()), INVALID_FILE_ATTRIBUTES);
}

// Another copy that hangs holding the lock costs one wait for a whole
// load or save, however many areas it reads or writes.
TEST_F(Settings, ALockNeverReleasedCostsOneWaitPerLoadOrSave)
{
    const HANDLE held = CreateEventW(nullptr, TRUE, FALSE, L"Local\\FerrolinkTestLockHeld");
    ASSERT_NE(held, nullptr) << GetLastError();
    ResetEvent(held);
    const HANDLE helper = StartHelper(L"hold");
    ASSERT_NE(helper, nullptr) << GetLastError();
    const bool ready = WaitForSingleObject(held, 20000) == WAIT_OBJECT_0;
    const uint64_t acquisitions = SettingsLockAcquisitions();
    const ULONGLONG started = GetTickCount64();
    if (ready) {
        SettingsLock load;
        LoadConnectionSettings();
        LoadSendHistory();
        RECT rect{};
        LoadWindowRect(rect);
        SaveConnectionSettings({}); // goes ahead without the lock
    }
    const ULONGLONG waited = GetTickCount64() - started;
    TerminateProcess(helper, 0);
    WaitForSingleObject(helper, 5000);
    CloseHandle(helper);
    CloseHandle(held);
    ASSERT_TRUE(ready);
    EXPECT_EQ(SettingsLockAcquisitions() - acquisitions, 1u);
    EXPECT_GE(waited, 2900u);
    EXPECT_LT(waited, 6000u);
    EXPECT_EQ(LoadConnectionSettings().port, ConnectionSettings{}.port);
}

// Each kind of link keeps its own framing; a delimiter that is not hex in
// the file falls back to CR LF rather than cutting nowhere.
TEST_F(Settings, FramingIsRememberedPerKindOfLink)
{
    EXPECT_EQ(LoadFraming(FramedLink::Tcp).mode, FramingMode::AsReceived);
    EXPECT_EQ(LoadFraming(FramedLink::Serial).mode, FramingMode::Lines);
    FramingOptions modbus;
    modbus.mode = FramingMode::IdleGap;
    modbus.idleGapUs = 5000;
    modbus.delimiter = {0x03};
    SaveFraming(FramedLink::Serial, modbus);
    const FramingOptions back = LoadFraming(FramedLink::Serial);
    EXPECT_EQ(back.mode, FramingMode::IdleGap);
    EXPECT_EQ(back.idleGapUs, 5000u);
    EXPECT_EQ(back.delimiter, (std::vector<uint8_t>{0x03}));
    EXPECT_EQ(LoadFraming(FramedLink::Tcp).mode, FramingMode::AsReceived);
    WriteSetting(L"Framing", L"TcpDelimiter", L"\\r\\n");
    EXPECT_EQ(LoadFraming(FramedLink::Tcp).delimiter, (std::vector<uint8_t>{0x0D, 0x0A}));
}
