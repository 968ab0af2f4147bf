#include "ui/ControlRules.h"
#include "logview/LogLine.h"
#include "ui/SerialOptions.h"

#include <gtest/gtest.h>

TEST(ControlRules, IpEditFollowsTheMode)
{
    const struct {
        int mode;
        const wchar_t* before;
        const wchar_t* after;
        bool enabled;
    } cases[] = {
        {ModeServer, L"192.168.1.9", L"0.0.0.0", false},
        {ModeClient, L"0.0.0.0", L"127.0.0.1", true},
        {ModeClient, L"", L"127.0.0.1", true},
        {ModeClient, L"10.1.2.3", L"10.1.2.3", true},
        {ModeClient, L" 0.0.0.0", L" 0.0.0.0", true}, // only the exact text is replaced
        {-1, L"::1", L"::1", true},
    };
    for (const auto& c : cases) {
        const IpEditState s = IpEditForMode(c.mode, c.before);
        EXPECT_EQ(s.text, c.after) << "mode " << c.mode;
        EXPECT_EQ(s.enabled, c.enabled) << "mode " << c.mode;
    }
}

TEST(ControlRules, SelectionsForStoredSettings)
{
    ConnectionSettings s;
    s.isUdp = 1;
    s.isServer = 1;
    s.ip = L"10.0.0.5";
    s.port = 65535;
    ControlSelections c = SelectionsFor(s);
    EXPECT_EQ(c.communication, CommUdp);
    EXPECT_EQ(c.mode, ModeServer);
    EXPECT_EQ(c.ipText, L"0.0.0.0");
    EXPECT_EQ(c.portText, L"65535");

    s = ConnectionSettings{};
    s.useSerial = 1;
    s.isUdp = 1;
    s.baud = 250000;
    s.dataBits = 7;
    s.stopBits = 2;
    s.parity = 9;
    s.flowControl = 7;
    c = SelectionsFor(s);
    EXPECT_EQ(c.communication, CommSerial);
    EXPECT_EQ(c.baudText, L"250000");
    EXPECT_EQ(c.dataBitsText, L"7");
    EXPECT_EQ(c.stopBits, 2);
    EXPECT_EQ(c.parity, 0);
    EXPECT_EQ(c.flowControl, 2); // anything above 2 is XON/XOFF
}

TEST(ControlRules, WindowTitles)
{
    EXPECT_EQ(WindowTitle(nullptr), L"Ferrolink");
    ConnectionSettings s;
    EXPECT_EQ(WindowTitle(&s), L"TCP - Client - 127.0.0.1:5000");
    s.isUdp = 1;
    s.isServer = 1;
    s.ip = L"0.0.0.0";
    s.port = 7;
    EXPECT_EQ(WindowTitle(&s), L"UDP - Server - 0.0.0.0:7");
    s.useSerial = 1;
    s.serialPort = L"COM3";
    EXPECT_EQ(WindowTitle(&s), L"Serial - COM3 - 115200");
}

TEST(ControlRules, ConnectButtonCaptions)
{
    EXPECT_STREQ(ConnectCaption(false, false), L"Connect");
    EXPECT_STREQ(ConnectCaption(false, true), L"Disconnect");
    EXPECT_STREQ(ConnectCaption(true, false), L"Open");
    EXPECT_STREQ(ConnectCaption(true, true), L"Close");
}

namespace {
bool ThreeAndTenExist(const std::wstring& name)
{
    return name == L"COM3" || name == L"COM10" || name == L"COM257";
}
} // namespace

TEST(SerialPorts, ListedInNumericOrderUpTo256)
{
    EXPECT_EQ(FindSerialPorts(&ThreeAndTenExist), (std::vector<std::wstring>{L"COM3", L"COM10"}));
}

TEST(SerialPorts, RefreshKeepsTheSelectedPortWhileItExists)
{
    const std::vector<std::wstring> ports = {L"COM3", L"COM10"};
    EXPECT_EQ(PortSelectionAfterRefresh(ports, L"COM10"), 1);
    EXPECT_EQ(PortSelectionAfterRefresh(ports, L"COM4"), 0);
    EXPECT_EQ(PortSelectionAfterRefresh(ports, L""), 0);
    EXPECT_EQ(PortSelectionAfterRefresh({}, L"COM3"), -1);
}

TEST(LogLine, TimeStampIsZeroPaddedWithOrWithoutMilliseconds)
{
    SYSTEMTIME t{};
    t.wYear = 2026;
    t.wMonth = 3;
    t.wDay = 4;
    t.wHour = 5;
    t.wMinute = 6;
    t.wSecond = 7;
    t.wMilliseconds = 9;
    EXPECT_EQ(FormatStamp(t, false), L"[2026-03-04 05:06:07] ");
    EXPECT_EQ(FormatStamp(t, true), L"[2026-03-04 05:06:07.009] ");
}
