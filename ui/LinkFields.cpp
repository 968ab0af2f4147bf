#include "ui/LinkFields.h"

#include "ui/ControlRules.h"
#include "ui/SerialOptions.h"

namespace {

Window Field(HWND parent, int id)
{
    return Window(GetDlgItem(parent, id));
}

void AddItems(Window combo, const wchar_t* const* items, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        combo.Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(items[i]));
}

int FindExact(Window combo, const std::wstring& text)
{
    return int(combo.Send(CB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>(text.c_str())));
}

} // namespace

void FillLinkFields(HWND parent, const LinkFieldIds& ids)
{
    const wchar_t* const communications[] = {L"TCP", L"UDP", L"Serial"};
    const wchar_t* const modes[] = {L"Client", L"Server"};
    AddItems(Field(parent, ids.communication), communications, 3);
    AddItems(Field(parent, ids.mode), modes, 2);
    AddItems(Field(parent, ids.baud), kBaudRates, 8);
    Field(parent, ids.baud).SetText(L"115200");
    AddItems(Field(parent, ids.dataBits), kDataBitsChoices, 4);
    Field(parent, ids.dataBits).Select(3);
    AddItems(Field(parent, ids.stopBits), kStopBitsChoices, 3);
    Field(parent, ids.stopBits).Select(0);
    AddItems(Field(parent, ids.parity), kParityChoices, 5);
    Field(parent, ids.parity).Select(0);
    AddItems(Field(parent, ids.flow), kFlowChoices, 3);
    Field(parent, ids.flow).Select(0);
    RefreshSerialPortList(Field(parent, ids.serialPort));
}

void RefreshSerialPortList(Window list)
{
    const std::wstring remembered = list.Text();
    list.Send(CB_RESETCONTENT);
    const std::vector<std::wstring> ports = FindSerialPorts();
    for (const std::wstring& port : ports)
        list.Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(port.c_str()));
    const int selection = PortSelectionAfterRefresh(ports, remembered);
    if (selection >= 0)
        list.Select(selection);
    list.FitDroppedList();
}

void ShowLinkSettings(HWND parent, const LinkFieldIds& ids, const ConnectionSettings& settings)
{
    const ControlSelections c = SelectionsFor(settings);
    Field(parent, ids.communication).Select(c.communication);
    Field(parent, ids.mode).Select(c.mode);
    Field(parent, ids.ip).SetText(c.ipText);
    Field(parent, ids.port).SetText(c.portText);
    if (!c.serialPort.empty()) {
        const int port = FindExact(Field(parent, ids.serialPort), c.serialPort);
        if (port != CB_ERR)
            Field(parent, ids.serialPort).Select(port);
    }
    Field(parent, ids.baud).SetText(c.baudText);
    const int dataBits = FindExact(Field(parent, ids.dataBits), c.dataBitsText);
    if (dataBits != CB_ERR)
        Field(parent, ids.dataBits).Select(dataBits);
    Field(parent, ids.stopBits).Select(c.stopBits);
    Field(parent, ids.parity).Select(c.parity);
    Field(parent, ids.flow).Select(c.flowControl);
}

ControlValues ReadLinkFields(HWND parent, const LinkFieldIds& ids)
{
    ControlValues c;
    c.communication = Field(parent, ids.communication).Selection();
    c.mode = Field(parent, ids.mode).Selection();
    c.ipText = Field(parent, ids.ip).Text();
    c.portText = Field(parent, ids.port).Text();
    c.serialPortText = Field(parent, ids.serialPort).Text();
    c.baudText = Field(parent, ids.baud).Text();
    c.dataBitsText = Field(parent, ids.dataBits).Text();
    c.stopBits = Field(parent, ids.stopBits).Selection();
    c.parity = Field(parent, ids.parity).Selection();
    c.flowControl = Field(parent, ids.flow).Selection();
    return c;
}
