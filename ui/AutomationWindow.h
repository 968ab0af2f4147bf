#pragma once

#include "automation/Library.h"
#include "framework/Dialog.h"

#include <cstdint>
#include <string>
#include <vector>

class AutomationSide;

// The automation's own window beside the main one: the library's
// commands, sequences and responder rules, each in a list under its tab,
// with the buttons that run and edit them. It shows what the side holds
// and hands every change to it.
class CAutomationWnd : public Dialog {
public:
    enum class Tab { Commands, Sequences, Rules };

    explicit CAutomationWnd(AutomationSide& side);

    // Shown beside the main window the first time, where it was after.
    void ShowBeside(HWND owner);
    // The library changed: the lists are made again.
    void Reload();
    // Counts and the sequence's state, once a tick; cheap when nothing changed.
    void Refresh();
    Tab CurrentTab() const { return m_tab; }
    void SelectTab(Tab tab);
    // The selected row of the current tab's list; SIZE_MAX for none.
    size_t Selected() const;
    void SelectRow(size_t row);

protected:
    BOOL OnInitDialog() override;
    // Enter in a list runs (or edits) its selected item.
    void OnOK() override;
    void OnCancel() override;
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    Window List(Tab tab) const;
    Window CurrentList() const { return List(m_tab); }
    void Layout();
    void ShowTab();
    void OnCommand(int id);
    void OnNotify(const NMHDR& header);
    void Run();
    void Add();
    void Edit();
    void Duplicate();
    void Delete();
    void Move(int by);
    void Import();
    void Export();

    AutomationSide& m_side;
    Tab m_tab = Tab::Commands;
    int m_dpi = 96;
    bool m_placed = false;
    bool m_filling = false; // the rules' check boxes are being set, not clicked
    std::vector<uint64_t> m_shownCounts;
    std::wstring m_shownState;
};
