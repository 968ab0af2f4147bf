#include "ui/AutomationWindow.h"

#include "framework/Dpi.h"
#include "framework/FileDialog.h"
#include "framework/MessageBox.h"
#include "res/resource.h"
#include "settings/LibraryStore.h"
#include "ui/AutomationEditors.h"
#include "ui/AutomationLayout.h"
#include "ui/AutomationSide.h"

#include <commctrl.h>

namespace {

const wchar_t kLibraryFilter[] = L"Ferrolink Library (*.txt)\0*.txt\0All Files (*.*)\0*.*\0";

void AddColumn(Window list, int index, const wchar_t* title, int width)
{
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<wchar_t*>(title);
    column.cx = width;
    list.Send(LVM_INSERTCOLUMNW, WPARAM(index), reinterpret_cast<LPARAM>(&column));
}

void SetCell(Window list, int row, int column, const std::wstring& text)
{
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    list.Send(LVM_SETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&item));
}

void AddRow(Window list, int row, const std::vector<std::wstring>& cells)
{
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(cells[0].c_str());
    list.Send(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    for (size_t c = 1; c < cells.size(); ++c)
        SetCell(list, row, int(c), cells[c]);
}

std::wstring PayloadWords(const PayloadForm& form)
{
    std::wstring text = form.hex ? L"hex " + form.text : form.text;
    for (wchar_t& c : text)
        if (c == L'\r' || c == L'\n')
            c = L' ';
    if (!form.hex && form.ending != LineEnding::None)
        text += form.ending == LineEnding::Cr ? L" +CR" : form.ending == LineEnding::Lf ? L" +LF" : L" +CRLF";
    if (form.checksum != Checksum::None)
        text += std::wstring(L" +") + ChecksumName(form.checksum);
    return text;
}

template <typename T>
void MoveItem(std::vector<T>& items, size_t from, size_t to)
{
    T item = std::move(items[from]);
    items.erase(items.begin() + ptrdiff_t(from));
    items.insert(items.begin() + ptrdiff_t(to), std::move(item));
}

// "Name (2)", the first such that no other has.
template <typename T>
std::wstring CopyName(const std::vector<T>& items, const std::wstring& name)
{
    for (int n = 2;; ++n) {
        const std::wstring candidate = name + L" (" + std::to_wstring(n) + L")";
        bool taken = false;
        for (const T& item : items)
            taken = taken || item.name == candidate;
        if (!taken)
            return candidate;
    }
}

} // namespace

CAutomationWnd::CAutomationWnd(AutomationSide& side) : Dialog(IDD_AUTOMATION), m_side(side) {}

Window CAutomationWnd::List(Tab tab) const
{
    return Item(tab == Tab::Commands ? IDC_AUTO_COMMANDS : tab == Tab::Sequences ? IDC_AUTO_SEQUENCES : IDC_AUTO_RULES);
}

BOOL CAutomationWnd::OnInitDialog()
{
    m_dpi = WindowDpi(Handle());
    KeepDialogLayoutOnDpiChange(Handle());
    const HWND tabs = Item(IDC_AUTO_TABS).Handle();
    const wchar_t* const names[] = {L"Commands", L"Sequences", L"Responder"};
    for (int i = 0; i < 3; ++i) {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(names[i]);
        TabCtrl_InsertItem(tabs, i, &item);
    }
    const DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES;
    for (const Tab tab : {Tab::Commands, Tab::Sequences, Tab::Rules})
        List(tab).Send(LVM_SETEXTENDEDLISTVIEWSTYLE, extended | LVS_EX_CHECKBOXES,
                       extended | (tab == Tab::Rules ? LVS_EX_CHECKBOXES : 0));
    const auto s = [this](int width) { return ScaleForDpi(width, m_dpi); };
    AddColumn(List(Tab::Commands), 0, L"", s(44));
    AddColumn(List(Tab::Commands), 1, L"Name", s(120));
    AddColumn(List(Tab::Commands), 2, L"Group", s(80));
    AddColumn(List(Tab::Commands), 3, L"Key", s(56));
    AddColumn(List(Tab::Commands), 4, L"Payload", s(220));
    AddColumn(List(Tab::Sequences), 0, L"Name", s(140));
    AddColumn(List(Tab::Sequences), 1, L"Rounds", s(60));
    AddColumn(List(Tab::Sequences), 2, L"Steps", s(300));
    AddColumn(List(Tab::Rules), 0, L"Rule", s(120));
    AddColumn(List(Tab::Rules), 1, L"Matches", s(60));
    AddColumn(List(Tab::Rules), 2, L"When", s(150));
    AddColumn(List(Tab::Rules), 3, L"Reply", s(170));
    Reload();
    ShowTab();
    Layout();
    return TRUE;
}

void CAutomationWnd::ShowBeside(HWND owner)
{
    if (!m_placed) {
        m_placed = true;
        // To the right of the main window where the screen has room, else over its right part.
        RECT main{}, own{};
        GetWindowRect(owner, &main);
        GetWindowRect(Handle(), &own);
        const ClientSize least = AutomationMinimumSize(m_dpi);
        const RECT frame = WindowRectForClient(Handle(), RECT{0, 0, least.cx + ScaleForDpi(160, m_dpi), least.cy},
                                               m_dpi);
        const int width = frame.right - frame.left, height = std::max<int>(frame.bottom - frame.top,
                                                                           (main.bottom - main.top) * 2 / 3);
        MONITORINFO monitor{};
        monitor.cbSize = sizeof(monitor);
        GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor);
        const RECT work = monitor.rcWork;
        int x = main.right;
        if (x + width > work.right)
            x = std::max<int>(work.left, work.right - width);
        const int y = std::clamp<int>(main.top, work.top, std::max<int>(work.top, work.bottom - height));
        MoveWindow(Handle(), x, y, std::min<int>(width, work.right - work.left),
                   std::min<int>(height, work.bottom - work.top), TRUE);
    }
    ShowWindow(Handle(), IsIconic(Handle()) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(Handle());
}

void CAutomationWnd::OnOK()
{
    if (GetFocus() != CurrentList().Handle() || Selected() == SIZE_MAX)
        return;
    if (m_tab == Tab::Rules)
        Edit();
    else
        Run();
}

void CAutomationWnd::OnCancel()
{
    ShowWindow(Handle(), SW_HIDE); // Escape and the close box hide it; the library lives on
}

INT_PTR CAutomationWnd::OnMessage(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_COMMAND:
        if (LOWORD(wp) != IDOK && LOWORD(wp) != IDCANCEL) {
            if (HIWORD(wp) == BN_CLICKED)
                OnCommand(LOWORD(wp));
            return TRUE;
        }
        break;
    case WM_NOTIFY:
        OnNotify(*reinterpret_cast<const NMHDR*>(lp));
        return TRUE;
    case WM_SIZE:
        Layout();
        return TRUE;
    case WM_GETMINMAXINFO: {
        const ClientSize least = AutomationMinimumSize(m_dpi);
        const RECT frame = WindowRectForClient(Handle(), RECT{0, 0, least.cx, least.cy}, m_dpi);
        reinterpret_cast<MINMAXINFO*>(lp)->ptMinTrackSize = POINT{frame.right - frame.left, frame.bottom - frame.top};
        return TRUE;
    }
    case WM_DPICHANGED: {
        m_dpi = HIWORD(wp) ? HIWORD(wp) : 96;
        const RECT& r = *reinterpret_cast<const RECT*>(lp);
        SetWindowPos(Handle(), nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        Layout();
        return TRUE;
    }
    case WM_CLOSE:
        OnCancel();
        return TRUE;
    }
    return Dialog::OnMessage(msg, wp, lp);
}

void CAutomationWnd::Layout()
{
    const RECT client = Window(Handle()).ClientRect();
    const std::vector<Placement> layout = AutomationLayoutFor(client.right, client.bottom, m_dpi, m_tab == Tab::Rules);
    HDWP batch = BeginDeferWindowPos(int(layout.size()));
    for (const Placement& p : layout)
        if (batch && Item(p.id))
            batch = DeferWindowPos(batch, Item(p.id).Handle(), nullptr, p.x, p.y, p.width, p.height,
                                   SWP_NOZORDER | SWP_NOACTIVATE);
    if (batch)
        EndDeferWindowPos(batch);
    RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void CAutomationWnd::SelectTab(Tab tab)
{
    TabCtrl_SetCurSel(Item(IDC_AUTO_TABS).Handle(), int(tab));
    ShowTab();
}

void CAutomationWnd::ShowTab()
{
    m_tab = Tab(std::max(0, int(TabCtrl_GetCurSel(Item(IDC_AUTO_TABS).Handle()))));
    for (const Tab tab : {Tab::Commands, Tab::Sequences, Tab::Rules})
        List(tab).Show(tab == m_tab);
    Item(IDC_AUTO_RUN).SetText(m_tab == Tab::Commands ? L"Send" : m_tab == Tab::Sequences ? L"Run" : L"Edit\u2026");
    Item(IDC_AUTO_RUN).Show(m_tab != Tab::Rules);
    Item(IDC_AUTO_SECOND).SetText(m_tab == Tab::Sequences ? L"Stop" : L"Reset Counts");
    Item(IDC_AUTO_SECOND).Show(m_tab != Tab::Commands);
    Item(IDC_AUTO_RESPOND).Show(m_tab == Tab::Rules);
    m_shownState = L"\x1"; // said again for this tab
    Refresh();
    Layout();
}

void CAutomationWnd::Reload()
{
    const Library& library = m_side.Lib();
    m_filling = true;
    for (const Tab tab : {Tab::Commands, Tab::Sequences, Tab::Rules})
        List(tab).Send(LVM_DELETEALLITEMS);
    int row = 0;
    for (const Command& command : library.commands)
        AddRow(List(Tab::Commands), row++,
               {L"Send", command.name, command.group, ShortcutText(command.shortcut), PayloadWords(command.payload)});
    row = 0;
    for (const Sequence& sequence : library.sequences) {
        std::wstring steps;
        for (const Step& step : sequence.steps)
            steps += (steps.empty() ? L"" : L"; ") + StepText(step);
        AddRow(List(Tab::Sequences), row++,
               {sequence.name, sequence.rounds ? std::to_wstring(sequence.rounds) : L"until stopped", steps});
    }
    row = 0;
    m_shownCounts.assign(library.rules.size(), UINT64_MAX);
    for (const ResponderRule& rule : library.rules) {
        const std::wstring delay = rule.delayMs ? L" after " + std::to_wstring(rule.delayMs) + L" ms" : L"";
        AddRow(List(Tab::Rules), row,
               {rule.name, L"", std::wstring(MatchKindName(rule.match)) + L" " + rule.pattern,
                PayloadWords(rule.reply) + delay + (rule.goOn ? L", and go on" : L"")});
        ListView_SetCheckState(List(Tab::Rules).Handle(), row, rule.enabled);
        ++row;
    }
    m_filling = false;
    Item(IDC_AUTO_RESPOND).SetCheck(m_side.ResponderOn());
    Refresh();
}

void CAutomationWnd::Refresh()
{
    if (!Handle())
        return;
    for (size_t i = 0; i < m_shownCounts.size(); ++i) {
        const uint64_t count = m_side.RuleMatches(i);
        if (count != m_shownCounts[i]) {
            m_shownCounts[i] = count;
            SetCell(List(Tab::Rules), int(i), 1, std::to_wstring(count));
        }
    }
    std::wstring state;
    if (m_tab == Tab::Sequences)
        state = m_side.SequenceState();
    else if (m_tab == Tab::Rules)
        state = m_side.ResponderOn() ? L"Answering" : L"Not answering";
    else
        state = L"Double-click, Send or the key sends a command.";
    if (state != m_shownState) {
        m_shownState = state;
        Item(IDC_AUTO_STATE).SetText(state);
    }
    if (Item(IDC_AUTO_RESPOND).Checked() != m_side.ResponderOn())
        Item(IDC_AUTO_RESPOND).SetCheck(m_side.ResponderOn());
}

size_t CAutomationWnd::Selected() const
{
    const LRESULT row = CurrentList().Send(LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED);
    return row < 0 ? SIZE_MAX : size_t(row);
}

void CAutomationWnd::SelectRow(size_t row)
{
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    CurrentList().Send(LVM_SETITEMSTATE, WPARAM(row), reinterpret_cast<LPARAM>(&item));
    CurrentList().Send(LVM_ENSUREVISIBLE, WPARAM(row), FALSE);
}

void CAutomationWnd::OnCommand(int id)
{
    switch (id) {
    case IDC_AUTO_RUN:
        Run();
        break;
    case IDC_AUTO_SECOND:
        if (m_tab == Tab::Sequences)
            m_side.StopSequence();
        else
            m_side.ResetCounts();
        break;
    case IDC_AUTO_ADD:
        Add();
        break;
    case IDC_AUTO_EDIT:
        Edit();
        break;
    case IDC_AUTO_DUPLICATE:
        Duplicate();
        break;
    case IDC_AUTO_DELETE:
        Delete();
        break;
    case IDC_AUTO_UP:
        Move(-1);
        break;
    case IDC_AUTO_DOWN:
        Move(1);
        break;
    case IDC_AUTO_IMPORT:
        Import();
        break;
    case IDC_AUTO_EXPORT:
        Export();
        break;
    case IDC_AUTO_RESPOND:
        m_side.SetResponderOn(Item(IDC_AUTO_RESPOND).Checked());
        break;
    }
    Refresh();
}

void CAutomationWnd::OnNotify(const NMHDR& header)
{
    if (header.idFrom == IDC_AUTO_TABS && header.code == TCN_SELCHANGE) {
        ShowTab();
        return;
    }
    if (header.hwndFrom != CurrentList().Handle())
        return;
    if (header.code == NM_DBLCLK) {
        if (Selected() != SIZE_MAX)
            m_tab == Tab::Rules ? Edit() : Run();
        return;
    }
    // One click on a command's "Send" sends it.
    if (header.code == NM_CLICK && m_tab == Tab::Commands) {
        const auto& click = reinterpret_cast<const NMITEMACTIVATE&>(header);
        if (click.iItem >= 0 && click.iSubItem == 0)
            m_side.SendCommand(size_t(click.iItem));
        return;
    }
    if (header.code == LVN_ITEMCHANGED && m_tab == Tab::Rules && !m_filling) {
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        if ((change.uChanged & LVIF_STATE) && ((change.uNewState ^ change.uOldState) & LVIS_STATEIMAGEMASK)) {
            Library library = m_side.Lib();
            const size_t row = size_t(change.iItem);
            if (row < library.rules.size()) {
                library.rules[row].enabled = ListView_GetCheckState(CurrentList().Handle(), change.iItem) != FALSE;
                m_side.ChangeLibrary(std::move(library), false);
            }
        }
    }
}

void CAutomationWnd::Run()
{
    const size_t row = Selected();
    if (row == SIZE_MAX)
        return;
    if (m_tab == Tab::Commands)
        m_side.SendCommand(row);
    else if (m_tab == Tab::Sequences)
        m_side.RunSequence(row);
}

void CAutomationWnd::Add()
{
    Library library = m_side.Lib();
    size_t at = SIZE_MAX;
    if (m_tab == Tab::Commands) {
        Command command;
        command.name = library.FindCommand(L"Command") ? CopyName(library.commands, L"Command") : L"Command";
        CommandEditor editor(command, library, SIZE_MAX);
        if (editor.DoModal(Handle()) != IDOK)
            return;
        library.commands.push_back(editor.Value());
        at = library.commands.size() - 1;
    } else if (m_tab == Tab::Sequences) {
        Sequence sequence;
        sequence.name = L"Sequence";
        SequenceEditor editor(sequence, library, SIZE_MAX);
        if (editor.DoModal(Handle()) != IDOK)
            return;
        library.sequences.push_back(editor.Value());
        at = library.sequences.size() - 1;
    } else {
        ResponderRule rule;
        rule.name = L"Rule " + std::to_wstring(library.rules.size() + 1);
        RuleEditor editor(rule);
        if (editor.DoModal(Handle()) != IDOK)
            return;
        library.rules.push_back(editor.Value());
        at = library.rules.size() - 1;
    }
    m_side.ChangeLibrary(std::move(library));
    SelectRow(at);
}

void CAutomationWnd::Edit()
{
    const size_t row = Selected();
    if (row == SIZE_MAX)
        return;
    Library library = m_side.Lib();
    if (m_tab == Tab::Commands) {
        CommandEditor editor(library.commands[row], library, row);
        if (editor.DoModal(Handle()) != IDOK)
            return;
        // Steps name their command: they follow a new name.
        for (Sequence& sequence : library.sequences)
            for (Step& step : sequence.steps)
                if (step.kind == Step::Kind::SendCommand && step.command == library.commands[row].name)
                    step.command = editor.Value().name;
        library.commands[row] = editor.Value();
    } else if (m_tab == Tab::Sequences) {
        SequenceEditor editor(library.sequences[row], library, row);
        if (editor.DoModal(Handle()) != IDOK)
            return;
        library.sequences[row] = editor.Value();
    } else {
        RuleEditor editor(library.rules[row]);
        if (editor.DoModal(Handle()) != IDOK)
            return;
        library.rules[row] = editor.Value();
    }
    m_side.ChangeLibrary(std::move(library));
    SelectRow(row);
}

void CAutomationWnd::Duplicate()
{
    const size_t row = Selected();
    if (row == SIZE_MAX)
        return;
    Library library = m_side.Lib();
    if (m_tab == Tab::Commands) {
        Command copy = library.commands[row];
        copy.name = CopyName(library.commands, copy.name);
        copy.shortcut = {}; // a key sends one command
        library.commands.insert(library.commands.begin() + ptrdiff_t(row) + 1, copy);
    } else if (m_tab == Tab::Sequences) {
        Sequence copy = library.sequences[row];
        copy.name = CopyName(library.sequences, copy.name);
        library.sequences.insert(library.sequences.begin() + ptrdiff_t(row) + 1, copy);
    } else {
        ResponderRule copy = library.rules[row];
        copy.name = CopyName(library.rules, copy.name);
        library.rules.insert(library.rules.begin() + ptrdiff_t(row) + 1, copy);
    }
    m_side.ChangeLibrary(std::move(library));
    SelectRow(row + 1);
}

void CAutomationWnd::Delete()
{
    const size_t row = Selected();
    if (row == SIZE_MAX)
        return;
    Library library = m_side.Lib();
    std::wstring name;
    if (m_tab == Tab::Commands)
        name = library.commands[row].name;
    else if (m_tab == Tab::Sequences)
        name = library.sequences[row].name;
    else
        name = library.rules[row].name;
    if (!AskYesNo(Handle(), L"Delete \"" + name + L"\"?"))
        return;
    if (m_tab == Tab::Commands)
        library.commands.erase(library.commands.begin() + ptrdiff_t(row));
    else if (m_tab == Tab::Sequences)
        library.sequences.erase(library.sequences.begin() + ptrdiff_t(row));
    else
        library.rules.erase(library.rules.begin() + ptrdiff_t(row));
    m_side.ChangeLibrary(std::move(library));
    const LRESULT left = CurrentList().Send(LVM_GETITEMCOUNT);
    if (left > 0)
        SelectRow(std::min(row, size_t(left - 1)));
}

void CAutomationWnd::Move(int by)
{
    const size_t row = Selected();
    if (row == SIZE_MAX)
        return;
    Library library = m_side.Lib();
    const size_t count = m_tab == Tab::Commands    ? library.commands.size()
                         : m_tab == Tab::Sequences ? library.sequences.size()
                                                   : library.rules.size();
    if ((by < 0 && row == 0) || (by > 0 && row + 1 >= count))
        return;
    const size_t to = by < 0 ? row - 1 : row + 1;
    if (m_tab == Tab::Commands)
        MoveItem(library.commands, row, to);
    else if (m_tab == Tab::Sequences)
        MoveItem(library.sequences, row, to);
    else
        MoveItem(library.rules, row, to); // the order is the order rules are tried in
    m_side.ChangeLibrary(std::move(library));
    SelectRow(to);
}

void CAutomationWnd::Import()
{
    const std::wstring path =
        AskFileName(Handle(), false, L"", kLibraryFilter, L"txt", L"Import Library");
    if (path.empty())
        return;
    const std::wstring problem = m_side.Import(path);
    if (!problem.empty())
        ShowErrorBox(Handle(), problem);
}

void CAutomationWnd::Export()
{
    const std::wstring path =
        AskFileName(Handle(), true, L"Ferrolink library.txt", kLibraryFilter, L"txt", L"Export Library");
    if (path.empty())
        return;
    const std::wstring problem = m_side.Export(path);
    if (!problem.empty())
        ShowErrorBox(Handle(), problem);
}
