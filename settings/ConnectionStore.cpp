#include "settings/ConnectionStore.h"

#include "settings/SettingsStore.h"

#include <climits>

ConnectionSettings LoadConnectionSettings()
{
    SettingsLock lock;
    ConnectionSettings s;
    s.useSerial = ReadSettingInt(L"Connection", L"Communication", 0) == 1 ? 1 : 0;
    s.ip = ReadSettingString(L"Connection", L"IP", s.ip);
    s.port = uint16_t(ReadSettingInt(L"Connection", L"Port", s.port));
    s.isUdp = ReadSettingInt(L"Connection", L"Protocol", 0) != 0 ? 1 : 0;
    s.isServer = ReadSettingInt(L"Connection", L"Mode", 0) != 0 ? 1 : 0;
    s.serialPort = ReadSettingString(L"Serial", L"Port", s.serialPort);
    s.baud = uint32_t(ReadSettingInt(L"Serial", L"Baud", int32_t(s.baud)));
    s.dataBits = uint8_t(ReadSettingInt(L"Serial", L"DataBits", s.dataBits));
    s.stopBits = uint8_t(ReadSettingInt(L"Serial", L"StopBits", s.stopBits));
    s.parity = uint8_t(ReadSettingInt(L"Serial", L"Parity", s.parity));
    s.flowControl = uint32_t(ReadSettingInt(L"Serial", L"FlowControl", int32_t(s.flowControl)));
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
    WriteSettingInt(L"Connection", L"Communication", s.useSerial == 1 ? 1 : 0);
    WriteSetting(L"Connection", L"IP", s.ip);
    WriteSettingInt(L"Connection", L"Port", s.port);
    WriteSettingInt(L"Connection", L"Protocol", s.isUdp != 0 ? 1 : 0);
    WriteSettingInt(L"Connection", L"Mode", s.isServer != 0 ? 1 : 0);
    WriteSetting(L"Serial", L"Port", s.serialPort);
    WriteSettingInt(L"Serial", L"Baud", int32_t(s.baud));
    WriteSettingInt(L"Serial", L"DataBits", s.dataBits);
    WriteSettingInt(L"Serial", L"StopBits", s.stopBits);
    WriteSettingInt(L"Serial", L"Parity", s.parity);
    WriteSettingInt(L"Serial", L"FlowControl", int32_t(s.flowControl));
    SaveLinesAtOpen(s.dtrAtOpen, s.rtsAtOpen);
    WriteSettingInt(L"Connection", L"Tls", s.tls ? 1 : 0);
    SaveNetworkOptions(s.net);
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
