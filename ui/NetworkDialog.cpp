#include "ui/NetworkDialog.h"

#include "engine/NetworkOptions.h"
#include "framework/FileDialog.h"
#include "res/resource.h"


NetworkOptionsDialog::NetworkOptionsDialog(NetworkOptions options, const ConnectionSettings& link)
    : Dialog(IDD_NETWORK_OPTIONS), m_options(std::move(options)), m_tcp(link.isUdp == 0), m_server(link.isServer == 1)
{
}

BOOL NetworkOptionsDialog::OnInitDialog()
{
    const Window address = Item(IDC_NET_LOCAL_ADDRESS);
    address.Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kAllAddressesText));
    for (const AdapterAddress& a : MachineAddresses()) {
        const std::wstring choice = AddressChoiceText(a);
        address.Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice.c_str()));
    }
    const NetworkOptionTexts texts = TextsFor(m_options);
    // The remembered address shows with its adapter when it is still there.
    const LRESULT found = address.Send(CB_FINDSTRING, WPARAM(-1), reinterpret_cast<LPARAM>((texts.localAddress + L" (").c_str()));
    if (found != CB_ERR && !m_options.localIp.empty())
        address.Select(int(found));
    else
        address.SetText(texts.localAddress);
    Item(IDC_NET_LOCAL_PORT).SetText(texts.localPort);
    Item(IDC_NET_GROUP).SetText(texts.multicastGroup);
    Item(IDC_NET_TTL).SetText(texts.multicastTtl);
    Item(IDC_NET_LOOPBACK).SetCheck(texts.multicastLoopback);
    Item(IDC_NET_ACCEPT_ANY).SetCheck(texts.acceptAnyCertificate);
    Item(IDC_NET_CERTIFICATE).SetText(texts.certificateFile);
    Item(IDC_NET_LOCAL_PORT).Enable(!m_server);
    Item(IDC_NET_GROUP).Enable(!m_tcp && m_server);
    Item(IDC_NET_TTL).Enable(!m_tcp && !m_server);
    Item(IDC_NET_LOOPBACK).Enable(!m_tcp && !m_server);
    Item(IDC_NET_ACCEPT_ANY).Enable(m_tcp && !m_server);
    Item(IDC_NET_CERTIFICATE).Enable(m_tcp && m_server);
    Item(IDC_NET_BROWSE).Enable(m_tcp && m_server);
    return TRUE;
}

INT_PTR NetworkOptionsDialog::OnMessage(UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_COMMAND && LOWORD(wp) == IDC_NET_BROWSE && HIWORD(wp) == BN_CLICKED) {
        const std::wstring file = AskFileName(Handle(), false, Item(IDC_NET_CERTIFICATE).Text().c_str(),
                                              L"Certificates (*.pfx;*.p12)\0*.pfx;*.p12\0All files (*.*)\0*.*\0",
                                              L"pfx", L"Server Certificate");
        if (!file.empty())
            Item(IDC_NET_CERTIFICATE).SetText(file);
        return TRUE;
    }
    return Dialog::OnMessage(msg, wp, lp);
}

// Boxes that cannot be used keep the dialog open, saying why.
void NetworkOptionsDialog::OnOK()
{
    NetworkOptionTexts texts;
    texts.localAddress = Item(IDC_NET_LOCAL_ADDRESS).Text();
    texts.localPort = Item(IDC_NET_LOCAL_PORT).Text();
    texts.multicastGroup = Item(IDC_NET_GROUP).Text();
    texts.multicastTtl = Item(IDC_NET_TTL).Text();
    texts.multicastLoopback = Item(IDC_NET_LOOPBACK).Checked();
    texts.acceptAnyCertificate = Item(IDC_NET_ACCEPT_ANY).Checked();
    texts.certificateFile = Item(IDC_NET_CERTIFICATE).Text();
    const std::wstring problem = ReadNetworkOptions(texts, m_options);
    if (!problem.empty()) {
        Item(IDC_NET_PROBLEM).SetText(problem);
        return;
    }
    EndDialog(IDOK);
}

PasswordDialog::PasswordDialog(std::wstring file) : Dialog(IDD_PASSWORD), m_file(std::move(file)) {}

PasswordDialog::~PasswordDialog()
{
    SecureZeroMemory(m_password.data(), m_password.size() * sizeof(wchar_t));
}

BOOL PasswordDialog::OnInitDialog()
{
    Item(IDC_PASSWORD_PROMPT).SetText(L"The password of " + m_file + L":");
    return TRUE;
}

void PasswordDialog::OnOK()
{
    m_password = Item(IDC_PASSWORD_EDIT).Text();
    Item(IDC_PASSWORD_EDIT).SetText(L"");
    EndDialog(IDOK);
}
