#include "settings/ConnectionStore.h"

#include "settings/SettingsStore.h"

#include <climits>

namespace {

// A link's choice, in the sections the keys are in: the connection's own,
// or the bridge's second link's, which has its own serial port key.
struct LinkKeys {
    const wchar_t* link;
    const wchar_t* serial;
    const wchar_t* serialPort;
};
constexpr LinkKeys kConnectionKeys{L"Connection", L"Serial", L"Port"};
constexpr LinkKeys kBridgeKeys{L"Bridge", L"Bridge", L"SerialPort"};

void ReadLink(ConnectionSettings& s, const LinkKeys& k)
{
    s.useSerial = ReadSettingInt(k.link, L"Communication", 0) == 1 ? 1 : 0;
    s.ip = ReadSettingString(k.link, L"IP", s.ip);
    s.port = uint16_t(ReadSettingInt(k.link, L"Port", s.port));
    s.isUdp = ReadSettingInt(k.link, L"Protocol", 0) != 0 ? 1 : 0;
    s.isServer = ReadSettingInt(k.link, L"Mode", 0) != 0 ? 1 : 0;
    s.serialPort = ReadSettingString(k.serial, k.serialPort, s.serialPort);
    s.baud = uint32_t(ReadSettingInt(k.serial, L"Baud", int32_t(s.baud)));
    s.dataBits = uint8_t(ReadSettingInt(k.serial, L"DataBits", s.dataBits));
    s.stopBits = uint8_t(ReadSettingInt(k.serial, L"StopBits", s.stopBits));
    s.parity = uint8_t(ReadSettingInt(k.serial, L"Parity", s.parity));
    s.flowControl = uint32_t(ReadSettingInt(k.serial, L"FlowControl", int32_t(s.flowControl)));
}

void WriteLink(const ConnectionSettings& s, const LinkKeys& k)
{
    WriteSettingInt(k.link, L"Communication", s.useSerial == 1 ? 1 : 0);
    WriteSetting(k.link, L"IP", s.ip);
    WriteSettingInt(k.link, L"Port", s.port);
    WriteSettingInt(k.link, L"Protocol", s.isUdp != 0 ? 1 : 0);
    WriteSettingInt(k.link, L"Mode", s.isServer != 0 ? 1 : 0);
    WriteSetting(k.serial, k.serialPort, s.serialPort);
    WriteSettingInt(k.serial, L"Baud", int32_t(s.baud));
    WriteSettingInt(k.serial, L"DataBits", s.dataBits);
    WriteSettingInt(k.serial, L"StopBits", s.stopBits);
    WriteSettingInt(k.serial, L"Parity", s.parity);
    WriteSettingInt(k.serial, L"FlowControl", int32_t(s.flowControl));
}

} // namespace

ConnectionSettings LoadConnectionSettings()
{
    SettingsLock lock;
    ConnectionSettings s;
    ReadLink(s, kConnectionKeys);
    s.dtrAtOpen = ReadSettingInt(L"Serial", L"DtrAtOpen", 1) != 0;
    s.rtsAtOpen = ReadSettingInt(L"Serial", L"RtsAtOpen", 1) != 0;
    s.tls = ReadSettingInt(L"Connection", L"Tls", 0) != 0;
    s.net.localIp = ReadSettingString(L"Network", L"LocalIP", L"");
    const int32_t localPort = ReadSettingInt(L"Network", L"LocalPort", 0);
    s.net.localPort = localPort >= 0 && localPort <= 65535 ? uint16_t(localPort) : 0;
    s.net.multicastGroup = ReadSettingString(L"Network", L"MulticastGroup", L"");
    const int32_t ttl = ReadSettingInt(L"Network", L"MulticastTTL", 1);
    s.net.multicastTtl = ttl >= 0 && ttl <= 255 ? uint8_t(ttl) : 1;
    s.net.multicastLoopback = ReadSettingInt(L"Network", L"MulticastLoopback", 1) != 0;
    s.net.acceptAnyCertificate = ReadSettingInt(L"Network", L"AcceptAnyCertificate", 0) != 0;
    s.net.certificateFile = ReadSettingString(L"Network", L"CertificateFile", L"");
    return s;
}

void SaveNetworkOptions(const NetworkOptions& o)
{
    SettingsLock lock;
    WriteSetting(L"Network", L"LocalIP", o.localIp);
    WriteSettingInt(L"Network", L"LocalPort", o.localPort);
    WriteSetting(L"Network", L"MulticastGroup", o.multicastGroup);
    WriteSettingInt(L"Network", L"MulticastTTL", o.multicastTtl);
    WriteSettingInt(L"Network", L"MulticastLoopback", o.multicastLoopback ? 1 : 0);
    WriteSettingInt(L"Network", L"AcceptAnyCertificate", o.acceptAnyCertificate ? 1 : 0);
    WriteSetting(L"Network", L"CertificateFile", o.certificateFile);
}

void SaveConnectionSettings(const ConnectionSettings& s)
{
    SettingsLock lock;
    WriteLink(s, kConnectionKeys);
    SaveLinesAtOpen(s.dtrAtOpen, s.rtsAtOpen);
    WriteSettingInt(L"Connection", L"Tls", s.tls ? 1 : 0);
    SaveNetworkOptions(s.net);
}

BridgeSettings LoadBridgeSettings()
{
    SettingsLock lock;
    BridgeSettings b;
    b.on = ReadSettingInt(L"Bridge", L"On", 0) != 0;
    ReadLink(b.second, kBridgeKeys);
    b.whenOneEnds = ReadSettingInt(L"Bridge", L"WhenOneEnds", 0) == 1 ? BridgeEnd::KeepOther : BridgeEnd::StopBoth;
    return b;
}

void SaveBridgeSettings(const BridgeSettings& b)
{
    SettingsLock lock;
    WriteSettingInt(L"Bridge", L"On", b.on ? 1 : 0);
    WriteLink(b.second, kBridgeKeys);
    WriteSettingInt(L"Bridge", L"WhenOneEnds", b.whenOneEnds == BridgeEnd::KeepOther ? 1 : 0);
}

void SaveLinesAtOpen(bool dtr, bool rts)
{
    SettingsLock lock;
    WriteSettingInt(L"Serial", L"DtrAtOpen", dtr ? 1 : 0);
    WriteSettingInt(L"Serial", L"RtsAtOpen", rts ? 1 : 0);
}

namespace {

uint32_t LengthOrDefault(int32_t stored, uint32_t fallback)
{
    return stored >= 1 && uint32_t(stored) <= kLongestControlMs ? uint32_t(stored) : fallback;
}

} // namespace

SerialControlLengths LoadSerialControlLengths()
{
    SettingsLock lock;
    return {LengthOrDefault(ReadSettingInt(L"Serial", L"PulseMs", int32_t(kDefaultPulseMs)), kDefaultPulseMs),
            LengthOrDefault(ReadSettingInt(L"Serial", L"BreakMs", int32_t(kDefaultBreakMs)), kDefaultBreakMs)};
}

void SaveSerialControlLengths(const SerialControlLengths& lengths)
{
    SettingsLock lock;
    WriteSettingInt(L"Serial", L"PulseMs", int32_t(lengths.pulseMs));
    WriteSettingInt(L"Serial", L"BreakMs", int32_t(lengths.breakMs));
}

static bool LargeEnough(const RECT& r)
{
    return int64_t(r.right) - r.left >= kMinStoredWidth && int64_t(r.bottom) - r.top >= kMinStoredHeight;
}

bool LoadWindowRect(RECT& rect)
{
    SettingsLock lock;
    const int32_t missing = INT32_MIN;
    const RECT stored{ReadSettingInt(L"Window", L"Left", missing), ReadSettingInt(L"Window", L"Top", missing),
                      ReadSettingInt(L"Window", L"Right", missing), ReadSettingInt(L"Window", L"Bottom", missing)};
    if (stored.left == missing || stored.top == missing || stored.right == missing || stored.bottom == missing)
        return false;
    if (!LargeEnough(stored))
        return false;
    rect = stored;
    return true;
}

void SaveWindowRect(const RECT& rect)
{
    SettingsLock lock;
    if (!LargeEnough(rect))
        return;
    WriteSettingInt(L"Window", L"Left", rect.left);
    WriteSettingInt(L"Window", L"Top", rect.top);
    WriteSettingInt(L"Window", L"Right", rect.right);
    WriteSettingInt(L"Window", L"Bottom", rect.bottom);
}

bool LoadReconnect()
{
    SettingsLock lock;
    return ReadOrWriteOption(L"Reconnect", false);
}

void SaveReconnect(bool reconnect)
{
    SettingsLock lock;
    WriteSettingInt(L"Options", L"Reconnect", reconnect ? 1 : 0);
}
