#pragma once

#include "engine/ConnectionSettings.h"
#include "framework/Dialog.h"

#include <string>

// The network options: the local side, multicast and TLS. Those the chosen
// link does not use are shown but greyed. On OK `Options()` holds what was
// chosen.
class NetworkOptionsDialog : public Dialog {
public:
    NetworkOptionsDialog(NetworkOptions options, const ConnectionSettings& link);
    const NetworkOptions& Options() const { return m_options; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    NetworkOptions m_options;
    bool m_tcp, m_server;
};

// Asks for a certificate file's password; on OK `Password()` holds it.
class PasswordDialog : public Dialog {
public:
    explicit PasswordDialog(std::wstring file);
    ~PasswordDialog() override;
    const std::wstring& Password() const { return m_password; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    std::wstring m_file;
    std::wstring m_password;
};
