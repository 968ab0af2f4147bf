#pragma once

#include "framework/Dialog.h"
#include "framing/Framer.h"

// Asks for the parameter of a framing mode; on OK `Options()` holds it.
class FramingDialog : public Dialog {
public:
    FramingDialog(FramingOptions options, FramingMode mode);
    const FramingOptions& Options() const { return m_options; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    FramingOptions m_options;
    FramingMode m_mode;
};
