#include "text/Fields.h"

std::wstring TrimBlanks(const std::wstring& text)
{
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos)
        return L"";
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

bool ParseWholeNumber(const std::wstring& text, uint32_t most, uint32_t& value)
{
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t read = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        read = read * 10 + uint64_t(c - L'0');
    }
    if (read > most)
        return false;
    value = uint32_t(read);
    return true;
}
