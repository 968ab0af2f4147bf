#pragma once

#include <windows.h>

#include <commdlg.h>

#include <string>

// The file the user chose; empty when the dialog was cancelled. `filter` is
// the dialog's pairs of double-NUL-ended texts.
inline std::wstring AskFileName(HWND owner, bool save, const wchar_t* suggested, const wchar_t* filter,
                                const wchar_t* extension, const wchar_t* title)
{
    wchar_t path[MAX_PATH] = {};
    lstrcpynW(path, suggested, MAX_PATH);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter;
    ofn.lpstrFile = path;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = extension;
    ofn.lpstrTitle = title;
    ofn.Flags = OFN_HIDEREADONLY | OFN_EXPLORER | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
    const BOOL chosen = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    return chosen ? std::wstring(path) : std::wstring();
}
