#include "ui/LogTools.h"

#include "ui/SendComposer.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>

int64_t FindInBytes(const ChunkedBytes& bytes, const std::vector<uint8_t>& pattern, int64_t from)
{
    const int64_t found = bytes.Find(pattern, size_t(std::max<int64_t>(0, from)));
    return found >= 0 || from <= 0 ? found : bytes.Find(pattern, 0);
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

// In pieces a single WriteFile can take.
static bool WriteAll(HANDLE file, const uint8_t* data, size_t size)
{
    bool ok = true;
    while (ok && size > 0) {
        const DWORD chunk = DWORD(std::min<size_t>(size, 1u << 30));
        DWORD written = 0;
        ok = WriteFile(file, data, chunk, &written, nullptr) && written == chunk;
        data += chunk;
        size -= chunk;
    }
    return ok;
}

template <class Write>
static bool WriteWholeFile(const std::wstring& path, Write write)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = write(file);
    return CloseHandle(file) && ok;
}

bool SaveLogFile(const std::wstring& path, const std::wstring& logText, const ChunkedBytes& capture)
{
    if (IsBinaryLogName(path))
        return WriteWholeFile(path, [&](HANDLE file) {
            bool ok = true;
            capture.ForEachRun(0, capture.size(),
                               [&](const uint8_t* data, size_t size) { ok = ok && WriteAll(file, data, size); });
            return ok;
        });
    const std::vector<uint8_t> utf8 = EncodeUtf8(logText);
    return WriteWholeFile(path, [&](HANDLE file) { return WriteAll(file, utf8.data(), utf8.size()); });
}
