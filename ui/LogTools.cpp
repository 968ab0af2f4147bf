#include "ui/LogTools.h"

#include "ui/SendComposer.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>

int64_t FindInBytes(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& pattern, int64_t from)
{
    if (pattern.empty() || pattern.size() > bytes.size())
        return -1;
    auto search = [&](int64_t start) -> int64_t {
        if (start > int64_t(bytes.size() - pattern.size()))
            return -1;
        const auto it = std::search(bytes.begin() + ptrdiff_t(start), bytes.end(), pattern.begin(), pattern.end());
        return it == bytes.end() ? -1 : int64_t(it - bytes.begin());
    };
    const int64_t found = search(std::max<int64_t>(0, from));
    return found >= 0 || from <= 0 ? found : search(0);
}

std::vector<uint8_t> ToAnsiBytes(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::vector<uint8_t> bytes(size_t(std::max(size, 0)));
    WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), reinterpret_cast<char*>(bytes.data()), size,
                        nullptr, nullptr);
    return bytes;
}

bool IsBinaryLogName(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    const size_t dot = path.find_last_of(L'.');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash))
        return false;
    std::wstring extension = path.substr(dot + 1);
    for (wchar_t& c : extension)
        c = wchar_t(std::towlower(c));
    return extension == L"bin";
}

static bool WriteWholeFile(const std::wstring& path, const void* data, size_t size)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    const auto* bytes = static_cast<const char*>(data);
    while (ok && size > 0) {
        const DWORD chunk = DWORD(std::min<size_t>(size, 1u << 30));
        DWORD written = 0;
        ok = WriteFile(file, bytes, chunk, &written, nullptr) && written == chunk;
        bytes += chunk;
        size -= chunk;
    }
    return CloseHandle(file) && ok;
}

bool SaveLogFile(const std::wstring& path, const std::wstring& logText, const std::vector<uint8_t>& capture)
{
    if (IsBinaryLogName(path))
        return WriteWholeFile(path, capture.data(), capture.size());
    const std::vector<uint8_t> utf8 = EncodeUtf8(logText);
    return WriteWholeFile(path, utf8.data(), utf8.size());
}
