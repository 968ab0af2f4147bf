#pragma once

#include "framework/Dialog.h"
#include "settings/ConnectionStore.h"

// Whether a second link is joined to the window's, which one, and what
// happens when one ends. On OK `Settings()` holds what was chosen.
class BridgeDialog : public Dialog {
public:
    explicit BridgeDialog(BridgeSettings settings);
    const BridgeSettings& Settings() const { return m_settings; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    // The boxes the chosen kind of link does not use are greyed.
    void EnableFields();
    BridgeSettings m_settings;
};
