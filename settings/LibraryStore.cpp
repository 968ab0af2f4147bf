#include "settings/LibraryStore.h"

#include "settings/SettingsStore.h"
#include "text/SystemError.h"

#include <windows.h>

std::wstring LibraryFilePath()
{
    const std::wstring settings = SettingsFilePath();
    return settings.substr(0, settings.find_last_of(L'\\') + 1) + L"Library.txt";
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes, DWORD& error)
{
    bytes.clear();
    error = ERROR_SUCCESS;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND;
    }
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(file, &size) != FALSE;
    // Past this no library is a library; ReadLibrary says so.
    const LONGLONG most = LONGLONG(64) << 20;
    if (ok) {
        bytes.resize(size_t(size.QuadPart > most ? most + 1 : size.QuadPart));
        DWORD read = 0;
        ok = bytes.empty() || ReadFile(file, bytes.data(), DWORD(bytes.size()), &read, nullptr);
        if (!ok)
            error = GetLastError();
        else if (read != bytes.size())
            error = ERROR_READ_FAULT; // it changed as it was read
        ok = ok && read == bytes.size();
    } else {
        error = GetLastError();
    }
    CloseHandle(file);
    return ok;
}

bool ReplaceFileWith(const std::wstring& path, const std::string& bytes, DWORD& error)
{
    const std::wstring draft = path + L".new";
    const HANDLE file = CreateFileW(draft.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    DWORD written = 0;
    bool ok = bytes.empty() || (WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                                written == bytes.size());
    ok = ok && FlushFileBuffers(file);
    error = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    if (ok && !MoveFileExW(draft.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        ok = false;
    }
    if (!ok)
        DeleteFileW(draft.c_str());
    return ok;
}

std::wstring LoadAutomationLibrary(Library& library)
{
    const std::wstring path = LibraryFilePath();
    std::string bytes;
    DWORD error = 0;
    {
        SettingsLock lock; // another copy may be saving it
        if (!ReadWholeFile(path, bytes, error))
            return L"The library " + path + L" could not be read: " + SystemErrorText(error);
    }
    const std::wstring problem = ReadLibrary(bytes, library);
    return problem.empty() ? L"" : L"The library " + path + L" was not read: " + problem;
}

std::wstring SaveAutomationLibrary(const Library& library)
{
    const std::wstring path = LibraryFilePath();
    DWORD error = 0;
    SettingsLock lock;
    if (!ReplaceFileWith(path, WriteLibrary(library), error))
        return L"The library could not be saved to " + path + L": " + SystemErrorText(error);
    return L"";
}
