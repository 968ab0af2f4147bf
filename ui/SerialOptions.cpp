#include "ui/SerialOptions.h"

#include <windows.h>

const wchar_t* const kBaudRates[8] = {L"9600",   L"19200",  L"38400",  L"57600",
                                      L"115200", L"230400", L"460800", L"921600"};
const wchar_t* const kDataBitsChoices[4] = {L"5", L"6", L"7", L"8"};
const wchar_t* const kStopBitsChoices[3] = {L"1", L"1.5", L"2"};
const wchar_t* const kParityChoices[5] = {L"None", L"Odd", L"Even", L"Mark", L"Space"};
const wchar_t* const kFlowChoices[3] = {L"None", L"RTS/CTS", L"XON/XOFF"};

bool SerialDeviceExists(const std::wstring& name)
{
    wchar_t target[512];
    return QueryDosDeviceW(name.c_str(), target, 512) != 0;
}

std::vector<std::wstring> FindSerialPorts(DeviceExists exists)
{
    std::vector<std::wstring> ports;
    for (int n = 1; n <= 256; ++n) {
        std::wstring name = L"COM" + std::to_wstring(n);
        if (exists(name))
            ports.push_back(std::move(name));
    }
    return ports;
}

int PortSelectionAfterRefresh(const std::vector<std::wstring>& ports, const std::wstring& remembered)
{
    if (!remembered.empty())
        for (size_t i = 0; i < ports.size(); ++i)
            if (ports[i] == remembered)
                return int(i);
    return ports.empty() ? -1 : 0;
}
