#include "ui/BridgeDialog.h"

#include "res/resource.h"
#include "ui/LinkFields.h"

namespace {

const LinkFieldIds kBridgeFields{IDC_BR_COMM, IDC_BR_MODE, IDC_BR_IP,   IDC_BR_PORT,   IDC_BR_SERIAL,
                                 IDC_BR_BAUD, IDC_BR_DATA, IDC_BR_STOP, IDC_BR_PARITY, IDC_BR_FLOW};

} // namespace

BridgeDialog::BridgeDialog(BridgeSettings settings) : Dialog(IDD_BRIDGE), m_settings(std::move(settings)) {}

BOOL BridgeDialog::OnInitDialog()
{
    FillLinkFields(Handle(), kBridgeFields);
    ShowLinkSettings(Handle(), kBridgeFields, m_settings.second);
    Item(IDC_BR_ON).SetCheck(m_settings.on);
    const bool keep = m_settings.whenOneEnds == BridgeEnd::KeepOther;
    Item(IDC_BR_STOP_BOTH).SetCheck(!keep);
    Item(IDC_BR_KEEP).SetCheck(keep);
    EnableFields();
    return TRUE;
}

INT_PTR BridgeDialog::OnMessage(UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_COMMAND && HIWORD(wp) == CBN_SELCHANGE && (LOWORD(wp) == IDC_BR_COMM || LOWORD(wp) == IDC_BR_MODE))
        EnableFields();
    return Dialog::OnMessage(msg, wp, lp);
}

void BridgeDialog::EnableFields()
{
    const bool serial = Item(IDC_BR_COMM).Selection() == CommSerial;
    const bool server = Item(IDC_BR_MODE).Selection() == ModeServer;
    Item(IDC_BR_MODE).Enable(!serial);
    Item(IDC_BR_IP).Enable(!serial && !server);
    Item(IDC_BR_PORT).Enable(!serial);
    for (int id : {IDC_BR_SERIAL, IDC_BR_BAUD, IDC_BR_DATA, IDC_BR_STOP, IDC_BR_PARITY, IDC_BR_FLOW})
        Item(id).Enable(serial);
}

// A port or baud that cannot be used keeps the dialog open, saying why.
void BridgeDialog::OnOK()
{
    const ControlValues values = ReadLinkFields(Handle(), kBridgeFields);
    const std::wstring problem = ControlValuesProblem(values);
    if (!problem.empty()) {
        Item(IDC_BR_PROBLEM).SetText(problem);
        return;
    }
    m_settings.on = Item(IDC_BR_ON).Checked();
    m_settings.second = SettingsFromControls(values);
    m_settings.whenOneEnds = Item(IDC_BR_KEEP).Checked() ? BridgeEnd::KeepOther : BridgeEnd::StopBoth;
    EndDialog(IDOK);
}
