#include "ui/ControlRules.h"

IpEditState IpEditForMode(int modePosition, const std::wstring& currentText)
{
    if (modePosition == ModeServer)
        return {L"0.0.0.0", false};
    if (currentText.empty() || currentText == L"0.0.0.0")
        return {L"127.0.0.1", true};
    return {currentText, true};
}

ControlSelections SelectionsFor(const ConnectionSettings& s)
{
    ControlSelections c;
    c.communication = s.useSerial == 1 ? CommSerial : (s.isUdp != 0 ? CommUdp : CommTcp);
    c.mode = s.isServer != 0 ? ModeServer : ModeClient;
    c.ipText = s.isServer == 1 ? std::wstring(L"0.0.0.0") : s.ip;
    c.portText = std::to_wstring(s.port);
    c.serialPort = s.serialPort;
    c.baudText = std::to_wstring(s.baud);
    c.dataBitsText = std::to_wstring(unsigned(s.dataBits));
    c.stopBits = (s.stopBits == 1 || s.stopBits == 2) ? s.stopBits : 0;
    c.parity = (s.parity >= 1 && s.parity <= 4) ? s.parity : 0;
    c.flowControl = s.flowControl <= 2 ? int(s.flowControl) : 2;
    return c;
}

std::wstring WindowTitle(const ConnectionSettings* s)
{
    if (!s)
        return L"Ferrolink";
    if (s->useSerial == 1)
        return L"Serial - " + s->serialPort + L" - " + std::to_wstring(s->baud);
    return std::wstring(s->isUdp ? L"UDP" : L"TCP") + L" - " + (s->isServer ? L"Server" : L"Client") + L" - " +
           s->ip + L":" + std::to_wstring(s->port);
}

const wchar_t* ConnectCaption(bool serial, bool connected)
{
    if (serial)
        return connected ? L"Close" : L"Open";
    return connected ? L"Disconnect" : L"Connect";
}
