#pragma once

#include <string>
#include <vector>

// The fixed choices of the serial option lists, in list order. Stop and
// parity positions are the line codes the serial link uses.
extern const wchar_t* const kBaudRates[8];
extern const wchar_t* const kDataBitsChoices[4];
extern const wchar_t* const kStopBitsChoices[3];
extern const wchar_t* const kParityChoices[5];
extern const wchar_t* const kFlowChoices[3];

using DeviceExists = bool (*)(const std::wstring& name);

bool SerialDeviceExists(const std::wstring& name);

// "COM1" to "COM256" that exist, in ascending number.
std::vector<std::wstring> FindSerialPorts(DeviceExists exists = &SerialDeviceExists);

// The port to select after a refresh: the remembered one when still there,
// else the first; -1 for an empty list.
int PortSelectionAfterRefresh(const std::vector<std::wstring>& ports, const std::wstring& remembered);
