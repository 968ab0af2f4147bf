#pragma once

#include <windows.h>

#include <vector>

struct MenuItem {
    UINT id = 0; // 0: a separator
    const wchar_t* text = L"";
    bool checked = false;
    bool enabled = true;
};

// A context menu whose choice reaches the owner as WM_COMMAND. `where` is
// the WM_CONTEXTMENU point; from the keyboard (-1) it opens at the
// anchor's top left corner.
inline void ShowPopupMenu(HWND owner, HWND anchor, LPARAM where, const std::vector<MenuItem>& items)
{
    const HMENU menu = CreatePopupMenu();
    if (!menu)
        return;
    for (const MenuItem& item : items) {
        if (!item.id) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        AppendMenuW(menu, MF_STRING | (item.checked ? MF_CHECKED : 0) | (item.enabled ? 0 : MF_GRAYED), item.id,
                    item.text);
    }
    POINT at{short(LOWORD(where)), short(HIWORD(where))};
    if (where == -1) {
        at = POINT{8, 8};
        ClientToScreen(anchor, &at);
    }
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, owner, nullptr);
    DestroyMenu(menu);
}
