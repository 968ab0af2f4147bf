#include "text/SystemError.h"

std::wstring SystemErrorText(DWORD code)
{
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(buffer ? buffer : L"", length);
    if (buffer)
        LocalFree(buffer);
    text = text.substr(0, text.find_first_of(L"\r\n"));
    while (!text.empty() && (text.back() == L'.' || text.back() == L' '))
        text.pop_back();
    return text;
}

std::wstring WithSystemError(const std::wstring& text, DWORD code)
{
    const std::wstring words = SystemErrorText(code);
    return text + L" (error " + std::to_wstring(code) + (words.empty() ? L"" : L": " + words) + L")";
}
