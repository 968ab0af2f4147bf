#include "ui/AutomationEditors.h"

#include "res/resource.h"

#include <algorithm>

namespace {

void Fill(Window combo, std::initializer_list<const wchar_t*> items, int selected)
{
    for (const wchar_t* item : items)
        combo.Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    combo.Select(selected);
}

void FillChecksums(Window combo, Checksum selected)
{
    for (int i = 0; i < kChecksumCount; ++i)
        combo.Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ChecksumName(Checksum(i))));
    combo.Select(int(selected));
}

// The payload's own controls, shared by the command and the rule.
void ShowPayload(const Dialog& d, const PayloadForm& form)
{
    Fill(d.Item(IDC_ED_KIND), {L"Text", L"Hex"}, form.hex ? 1 : 0);
    d.Item(IDC_ED_TEXT).SetText(form.text);
    d.Item(IDC_ED_ESCAPES).SetCheck(form.escapes);
    Fill(d.Item(IDC_ED_ENDING), {L"None", L"CR", L"LF", L"CRLF"}, int(form.ending));
    FillChecksums(d.Item(IDC_ED_CHECKSUM), form.checksum);
}

PayloadForm ReadPayload(const Dialog& d)
{
    PayloadForm form;
    form.hex = d.Item(IDC_ED_KIND).Selection() == 1;
    form.text = d.Item(IDC_ED_TEXT).Text();
    form.escapes = !form.hex && d.Item(IDC_ED_ESCAPES).Checked();
    form.ending = form.hex ? LineEnding::None : LineEnding(std::max(0, d.Item(IDC_ED_ENDING).Selection()));
    form.checksum = Checksum(std::max(0, d.Item(IDC_ED_CHECKSUM).Selection()));
    return form;
}

// A whole number, or false; the box takes digits as typed, but not as pasted.
bool ReadNumber(const Window& edit, uint32_t& value, uint32_t most)
{
    return ParseWholeNumber(TrimBlanks(edit.Text()), most, value);
}

} // namespace

CommandEditor::CommandEditor(Command command, const Library& library, size_t self)
    : Dialog(IDD_COMMAND_EDITOR), m_value(std::move(command)), m_library(library), m_self(self)
{
}

BOOL CommandEditor::OnInitDialog()
{
    Item(IDC_ED_NAME).SetText(m_value.name);
    Item(IDC_ED_GROUP).SetText(m_value.group);
    const Window shortcut = Item(IDC_ED_SHORTCUT);
    shortcut.Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"None"));
    for (int shift = 0; shift < 2; ++shift)
        for (int key = 1; key <= 12; ++key)
            shortcut.Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ShortcutText(Shortcut{key, shift == 1}).c_str()));
    shortcut.Select(m_value.shortcut.key ? m_value.shortcut.key + (m_value.shortcut.shift ? 12 : 0) : 0);
    ShowPayload(*this, m_value.payload);
    SetFocus(Item(IDC_ED_NAME).Handle());
    return FALSE;
}

void CommandEditor::OnOK()
{
    Command value;
    value.name = TrimBlanks(Item(IDC_ED_NAME).Text());
    value.group = TrimBlanks(Item(IDC_ED_GROUP).Text());
    const int key = std::max(0, Item(IDC_ED_SHORTCUT).Selection());
    value.shortcut = key == 0 ? Shortcut{} : Shortcut{(key - 1) % 12 + 1, key > 12};
    value.payload = ReadPayload(*this);
    std::wstring problem;
    for (size_t i = 0; i < m_library.commands.size() && problem.empty(); ++i) {
        if (i == m_self)
            continue;
        if (m_library.commands[i].name == value.name)
            problem = L"Another command is named \"" + value.name + L"\".";
        else if (value.shortcut.key && m_library.commands[i].shortcut == value.shortcut)
            problem = ShortcutText(value.shortcut) + L" is the shortcut of \"" + m_library.commands[i].name + L"\".";
    }
    if (value.name.empty())
        problem = L"A command needs a name.";
    else if (NameLooksLikePayload(value.name))
        problem = L"A name cannot begin with \"text:\" or \"hex:\".";
    if (problem.empty())
        problem = MakePayload(value.payload).problem;
    if (!problem.empty()) {
        Item(IDC_ED_PROBLEM).SetText(problem);
        return;
    }
    m_value = value;
    EndDialog(IDOK);
}

SequenceEditor::SequenceEditor(Sequence sequence, const Library& library, size_t self)
    : Dialog(IDD_SEQUENCE_EDITOR), m_value(std::move(sequence)), m_library(library), m_self(self)
{
}

BOOL SequenceEditor::OnInitDialog()
{
    Item(IDC_ED_NAME).SetText(m_value.name);
    Item(IDC_ED_ROUNDS).SetText(std::to_wstring(m_value.rounds));
    std::wstring steps;
    for (const Step& step : m_value.steps)
        steps += StepText(step) + L"\r\n";
    Item(IDC_ED_STEPS).SetText(steps);
    Item(IDC_ED_HELP).SetText(L"send NAME  |  send text: AT\\r\\n  |  send hex: 01 03  |  wait 20  |  "
                              L"wait up to 500 [or go on] for exact|contains|hex|regex PATTERN");
    SetFocus(Item(IDC_ED_NAME).Handle());
    return FALSE;
}

void SequenceEditor::OnOK()
{
    Sequence value;
    value.name = TrimBlanks(Item(IDC_ED_NAME).Text());
    std::wstring problem;
    if (value.name.empty())
        problem = L"A sequence needs a name.";
    for (size_t i = 0; i < m_library.sequences.size() && problem.empty(); ++i)
        if (i != m_self && m_library.sequences[i].name == value.name)
            problem = L"Another sequence is named \"" + value.name + L"\".";
    if (problem.empty() && !ReadNumber(Item(IDC_ED_ROUNDS), value.rounds, 1000000))
        problem = L"Rounds is a number from 0 (until stopped) to 1000000.";
    size_t line = 0;
    for (const std::wstring& stepText : SplitLines(Item(IDC_ED_STEPS).Text())) {
        ++line;
        if (!problem.empty())
            break;
        if (TrimBlanks(stepText).empty())
            continue;
        Step step;
        if (const std::wstring why = ParseStep(stepText, step); !why.empty())
            problem = L"Step line " + std::to_wstring(line) + L": " + why;
        else if (step.kind == Step::Kind::SendCommand && !m_library.FindCommand(step.command))
            problem = L"Step line " + std::to_wstring(line) + L": the library has no command named \"" +
                      step.command + L"\".";
        value.steps.push_back(step);
    }
    if (!problem.empty()) {
        Item(IDC_ED_PROBLEM).SetText(problem);
        return;
    }
    m_value = value;
    EndDialog(IDOK);
}

RuleEditor::RuleEditor(ResponderRule rule) : Dialog(IDD_RULE_EDITOR), m_value(std::move(rule)) {}

BOOL RuleEditor::OnInitDialog()
{
    Item(IDC_ED_NAME).SetText(m_value.name);
    Item(IDC_ED_ENABLED).SetCheck(m_value.enabled);
    const Window kind = Item(IDC_ED_MATCH_KIND);
    for (const MatchKind k : {MatchKind::Exact, MatchKind::Contains, MatchKind::Hex, MatchKind::Regex})
        kind.Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(MatchKindName(k)));
    kind.Select(int(m_value.match));
    Item(IDC_ED_PATTERN).SetText(m_value.pattern);
    ShowPayload(*this, m_value.reply);
    Item(IDC_ED_DELAY).SetText(std::to_wstring(m_value.delayMs));
    Item(IDC_ED_GO_ON).SetCheck(m_value.goOn);
    Item(IDC_ED_HELP).SetText(L"Copies of the message: {*} all of it, {N} group N, {@A-B} its bytes A to B "
                              L"(from 0), {@A-} from A on; {{ is a brace.");
    SetFocus(Item(IDC_ED_NAME).Handle());
    return FALSE;
}

void RuleEditor::OnOK()
{
    ResponderRule value;
    value.name = TrimBlanks(Item(IDC_ED_NAME).Text());
    value.enabled = Item(IDC_ED_ENABLED).Checked();
    value.match = MatchKind(std::max(0, Item(IDC_ED_MATCH_KIND).Selection()));
    value.pattern = Item(IDC_ED_PATTERN).Text();
    value.reply = ReadPayload(*this);
    value.goOn = Item(IDC_ED_GO_ON).Checked();
    std::wstring problem;
    if (value.name.empty())
        problem = L"A rule needs a name.";
    else if (!ReadNumber(Item(IDC_ED_DELAY), value.delayMs, 86400000))
        problem = L"The delay is milliseconds from 0 to 86400000.";
    else
        problem = RuleProblem(value);
    if (!problem.empty()) {
        Item(IDC_ED_PROBLEM).SetText(problem);
        return;
    }
    m_value = value;
    EndDialog(IDOK);
}
