#include "logview/LogLine.h"

#include <cwchar>

const wchar_t* LogTag(TransportEventKind kind)
{
    switch (kind) {
    case TransportEventKind::Received:
        return L"RX  ";
    case TransportEventKind::Sent:
        return L"TX  ";
    case TransportEventKind::Error:
        return L"ERR ";
    default:
        return L"SYS ";
    }
}

std::wstring StripEscapeSequences(std::wstring text)
{
    if (text.find(wchar_t(0x1B)) == std::wstring::npos)
        return text;
    std::wstring out;
    out.reserve(text.size());
    bool inEscape = false;
    for (const wchar_t c : text) {
        if (!inEscape) {
            if (c == 0x1B)
                inEscape = true;
            else
                out += c;
        } else if ((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z')) {
            inEscape = false;
        }
    }
    return out;
}

std::wstring FormatStamp(const SYSTEMTIME& time, bool milliseconds)
{
    wchar_t buffer[40];
    if (milliseconds)
        swprintf(buffer, 40, L"[%04u-%02u-%02u %02u:%02u:%02u.%03u] ", time.wYear, time.wMonth, time.wDay, time.wHour,
                 time.wMinute, time.wSecond, time.wMilliseconds);
    else
        swprintf(buffer, 40, L"[%04u-%02u-%02u %02u:%02u:%02u] ", time.wYear, time.wMonth, time.wDay, time.wHour,
                 time.wMinute, time.wSecond);
    return buffer;
}
