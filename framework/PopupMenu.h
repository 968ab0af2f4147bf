#pragma once

#include <windows.h>

#include <utility>
#include <vector>

struct MenuItem {
    MenuItem() = default; // a separator
    MenuItem(UINT id, const wchar_t* text = L"", bool checked = false, bool enabled = true)
        : id(id), text(text), checked(checked), enabled(enabled)
    {
    }
    // A submenu.
    MenuItem(const wchar_t* text, bool enabled, std::vector<MenuItem> items)
        : text(text), enabled(enabled), items(std::move(items))
    {
    }

    UINT id = 0; // 0: a separator, or a submenu when `items` has any
    const wchar_t* text = L"";
    bool checked = false;
    bool enabled = true;
    std::vector<MenuItem> items;
};

inline HMENU MakePopupMenu(const std::vector<MenuItem>& items)
{
    const HMENU menu = CreatePopupMenu();
    if (!menu)
        return nullptr;
    for (const MenuItem& item : items) {
        if (!item.items.empty()) {
            if (const HMENU sub = MakePopupMenu(item.items))
                AppendMenuW(menu, MF_POPUP | (item.enabled ? 0 : MF_GRAYED), reinterpret_cast<UINT_PTR>(sub), item.text);
        } else if (!item.id) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        } else {
            AppendMenuW(menu, MF_STRING | (item.checked ? MF_CHECKED : 0) | (item.enabled ? 0 : MF_GRAYED), item.id,
                        item.text);
        }
    }
    return menu;
}

// A context menu whose choice reaches the owner as WM_COMMAND. `where` is
// the WM_CONTEXTMENU point; from the keyboard (-1) it opens at the
// anchor's top left corner.
inline void ShowPopupMenu(HWND owner, HWND anchor, LPARAM where, const std::vector<MenuItem>& items)
{
    const HMENU menu = MakePopupMenu(items);
    if (!menu)
        return;
    POINT at{short(LOWORD(where)), short(HIWORD(where))};
    if (where == -1) {
        at = POINT{8, 8};
        ClientToScreen(anchor, &at);
    }
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, owner, nullptr);
    DestroyMenu(menu);
}
