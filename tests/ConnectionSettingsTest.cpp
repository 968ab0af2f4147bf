#include "engine/ConnectionSettings.h"
#include "engine/NetworkOptions.h"

#include <gtest/gtest.h>

TEST(SettingsFromControls, EmptyControlsGiveTheDefaults)
{
    const ConnectionSettings tcp = SettingsFromControls(ControlValues{});
    EXPECT_EQ(tcp.useSerial, 0u);
    EXPECT_EQ(tcp.isUdp, 0u);
    EXPECT_EQ(tcp.isServer, 0u);
    EXPECT_EQ(tcp.ip, L"127.0.0.1");
    EXPECT_EQ(tcp.port, 5000);

    ControlValues serialControls;
    serialControls.communication = CommSerial;
    const ConnectionSettings serial = SettingsFromControls(serialControls);
    EXPECT_EQ(serial.useSerial, 1u);
    EXPECT_EQ(serial.ip, L"127.0.0.1");
    EXPECT_EQ(serial.port, 5000);
    EXPECT_EQ(serial.serialPort, L"");
    EXPECT_EQ(serial.baud, 115200u);
    EXPECT_EQ(serial.dataBits, 8);
    EXPECT_EQ(serial.stopBits, 0);
    EXPECT_EQ(serial.parity, 0);
    EXPECT_EQ(serial.flowControl, 0u);
}

TEST(SettingsFromControls, RecordDefaultsMatchTheFirstStart)
{
    const ConnectionSettings s;
    EXPECT_EQ(s.ip, L"127.0.0.1");
    EXPECT_EQ(s.port, 5000);
    EXPECT_EQ(s.baud, 115200u);
    EXPECT_EQ(s.dataBits, 8);
}

TEST(SettingsFromControls, PortTextIsCutToSixteenBits)
{
    const struct {
        const wchar_t* text;
        uint16_t port;
    } cases[] = {
        {L"5000", 5000},   {L"70000", 4464}, {L"65536", 0},      {L"abc", 0},
        {L"", 5000},       {L"12ab", 12},    {L" 80", 80},       {L"-1", 65535},
        {L"+21", 21},      {L"99999999999", 65535}, // saturates at 2^31 - 1 first
    };
    for (const auto& c : cases) {
        ControlValues controls;
        controls.communication = CommTcp;
        controls.portText = c.text;
        EXPECT_EQ(SettingsFromControls(controls).port, c.port) << "port text \"" << c.text << '"';
    }
}

// A number that does not fit is refused at Connect, before it could be cut.
TEST(ControlValuesProblem, PortAndBaudMustBeWholeNumbersInRange)
{
    ControlValues network;
    network.communication = CommTcp;
    for (const wchar_t* good : {L"", L"0", L"80", L" 5000 ", L"65535"}) {
        network.portText = good;
        EXPECT_EQ(ControlValuesProblem(network), L"") << good;
    }
    for (const wchar_t* bad : {L"65536", L"99999", L"abc", L"12ab", L"-1", L"+21", L"99999999999"}) {
        network.portText = bad;
        EXPECT_EQ(ControlValuesProblem(network),
                  L"Port must be a whole number from 0 to 65535, not \"" + std::wstring(bad) + L"\".")
            << bad;
    }
    network.baudText = L"abc"; // not read for a network link
    network.portText = L"80";
    EXPECT_EQ(ControlValuesProblem(network), L"");

    ControlValues serial;
    serial.communication = CommSerial;
    serial.portText = L"99999"; // not read for a serial link
    for (const wchar_t* good : {L"", L"9600", L"12000000"}) {
        serial.baudText = good;
        EXPECT_EQ(ControlValuesProblem(serial), L"") << good;
    }
    for (const wchar_t* bad : {L"abc", L"0", L"16000001", L"9600 baud"}) {
        serial.baudText = bad;
        EXPECT_EQ(ControlValuesProblem(serial),
                  L"Baud must be a whole number from 1 to 16000000, not \"" + std::wstring(bad) + L"\".")
            << bad;
    }
}

// A TCP link must not reset the serial choices, nor a serial link the
// network ones: every box is read whichever link is chosen.
TEST(SettingsFromControls, EveryBoxIsReadWhicheverLinkIsChosen)
{
    ControlValues controls;
    controls.ipText = L"192.0.2.9";
    controls.portText = L"502";
    controls.serialPortText = L"COM7";
    controls.baudText = L"9600";
    controls.dataBitsText = L"7";
    controls.stopBits = 2;
    controls.parity = 1;
    controls.flowControl = 1;
    for (const int communication : {CommTcp, CommUdp, CommSerial}) {
        controls.communication = communication;
        const ConnectionSettings s = SettingsFromControls(controls);
        EXPECT_EQ(s.ip, L"192.0.2.9") << communication;
        EXPECT_EQ(s.port, 502) << communication;
        EXPECT_EQ(s.serialPort, L"COM7") << communication;
        EXPECT_EQ(s.baud, 9600u) << communication;
        EXPECT_EQ(s.dataBits, 7) << communication;
        EXPECT_EQ(s.stopBits, 2) << communication;
        EXPECT_EQ(s.parity, 1) << communication;
        EXPECT_EQ(s.flowControl, 1u) << communication;
    }
}

TEST(SettingsFromControls, ServerModeListensOnEveryAddress)
{
    ControlValues controls;
    controls.communication = CommTcp;
    controls.mode = ModeServer;
    controls.ipText = L"192.0.2.7";
    EXPECT_EQ(SettingsFromControls(controls).ip, L"0.0.0.0");
    controls.communication = CommUdp;
    EXPECT_EQ(SettingsFromControls(controls).ip, L"0.0.0.0");

    controls.mode = ModeClient;
    controls.ipText = L"not an address";
    EXPECT_EQ(SettingsFromControls(controls).ip, L"not an address");
}

TEST(SettingsFromControls, ListPositionsSelectTheTransport)
{
    ControlValues controls;
    controls.communication = CommUdp;
    controls.mode = ModeServer;
    ConnectionSettings s = SettingsFromControls(controls);
    EXPECT_EQ(s.isUdp, 1u);
    EXPECT_EQ(s.useSerial, 0u);
    EXPECT_EQ(s.isServer, 1u);

    controls.communication = CommSerial;
    s = SettingsFromControls(controls);
    EXPECT_EQ(s.useSerial, 1u);
    EXPECT_EQ(s.isUdp, 0u);
}

TEST(SettingsFromControls, SerialFieldsFromTheirBoxesAndLists)
{
    ControlValues controls;
    controls.communication = CommSerial;
    controls.serialPortText = L"COM3";
    controls.baudText = L"9600 baud";
    controls.dataBitsText = L"7";
    controls.stopBits = 2;
    controls.parity = 4;
    controls.flowControl = 1;
    controls.ipText = L"10.0.0.1";
    controls.portText = L"1234";
    const ConnectionSettings s = SettingsFromControls(controls);
    EXPECT_EQ(s.serialPort, L"COM3");
    EXPECT_EQ(s.baud, 9600u);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.stopBits, 2);
    EXPECT_EQ(s.parity, 4);
    EXPECT_EQ(s.flowControl, 1u);
}

TEST(SettingsFromControls, OutOfRangeSerialValues)
{
    ControlValues controls;
    controls.communication = CommSerial;
    controls.baudText = L"fast";
    controls.dataBitsText = L"263"; // low 8 bits: 7
    controls.stopBits = 3;
    controls.parity = 5;
    controls.flowControl = -1;
    const ConnectionSettings s = SettingsFromControls(controls);
    EXPECT_EQ(s.baud, 115200u);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.stopBits, 0);
    EXPECT_EQ(s.parity, 0);
    EXPECT_EQ(s.flowControl, 0u);
}


// The options dialog's boxes: a choice from the list gives its address
// alone, numbers are whole and in range, a group is a multicast address,
// and what is read shows again as it was.
TEST(NetworkOptions, BoxesAreReadStrictlyAndShowAgainAsRead)
{
    NetworkOptionTexts t = TextsFor(NetworkOptions{});
    EXPECT_EQ(t.localAddress, kAllAddressesText);
    NetworkOptions o;
    o.localPort = 7;
    ASSERT_EQ(ReadNetworkOptions(t, o), L"");
    EXPECT_EQ(o, NetworkOptions{});

    t.localAddress = AddressChoiceText({L"fe80::1%3", L"Ethernet 2", true});
    t.localPort = L" 502 ";
    t.multicastGroup = L"239.255.0.1";
    t.multicastTtl = L"0";
    t.multicastLoopback = false;
    t.acceptAnyCertificate = true;
    t.certificateFile = L" C:\\certs\\server.pfx ";
    ASSERT_EQ(ReadNetworkOptions(t, o), L"");
    EXPECT_EQ(o.localIp, L"fe80::1%3");
    EXPECT_EQ(o.localPort, 502);
    EXPECT_EQ(o.multicastGroup, L"239.255.0.1");
    EXPECT_EQ(o.multicastTtl, 0);
    EXPECT_FALSE(o.multicastLoopback);
    EXPECT_TRUE(o.acceptAnyCertificate);
    EXPECT_EQ(o.certificateFile, L"C:\\certs\\server.pfx");
    NetworkOptions again;
    ASSERT_EQ(ReadNetworkOptions(TextsFor(o), again), L"");
    EXPECT_EQ(again, o);

    const struct {
        std::wstring NetworkOptionTexts::*box;
        const wchar_t* text;
        const wchar_t* problemStart;
    } bad[] = {
        {&NetworkOptionTexts::localAddress, L"gateway.local", L"The local address must be"},
        {&NetworkOptionTexts::localAddress, L"10.0.0.256", L"The local address must be"},
        {&NetworkOptionTexts::localPort, L"65536", L"The local port must be"},
        {&NetworkOptionTexts::localPort, L"-1", L"The local port must be"},
        {&NetworkOptionTexts::multicastGroup, L"192.168.1.255", L"The multicast group must be"},
        {&NetworkOptionTexts::multicastGroup, L"ff02::1", L"The multicast group must be"},
        {&NetworkOptionTexts::multicastTtl, L"256", L"The TTL must be"},
    };
    for (const auto& c : bad) {
        NetworkOptionTexts texts = TextsFor(NetworkOptions{});
        texts.*c.box = c.text;
        NetworkOptions kept = o;
        EXPECT_EQ(ReadNetworkOptions(texts, kept).rfind(c.problemStart, 0), 0u) << c.text;
        EXPECT_EQ(kept, o) << c.text; // left as it was
    }
}
