#include "ui/FramingDialog.h"

#include "res/resource.h"

FramingDialog::FramingDialog(FramingOptions options, FramingMode mode)
    : Dialog(IDD_FRAMING), m_options(std::move(options)), m_mode(mode)
{
}

BOOL FramingDialog::OnInitDialog()
{
    Item(IDC_FRAMING_PROMPT).SetText(FramingParameterPrompt(m_mode));
    const Window value = Item(IDC_FRAMING_VALUE);
    value.SetText(FramingParameterText(m_options, m_mode));
    SetFocus(value.Handle());
    value.Send(EM_SETSEL, 0, -1);
    return FALSE; // the focus is set
}

// A value that is not taken keeps the dialog open, saying why.
void FramingDialog::OnOK()
{
    const std::wstring problem = SetFramingParameter(m_options, m_mode, Item(IDC_FRAMING_VALUE).Text());
    if (!problem.empty()) {
        Item(IDC_FRAMING_PROBLEM).SetText(problem);
        return;
    }
    m_options.mode = m_mode;
    EndDialog(IDOK);
}
