#include "settings/SettingsStore.h"

#include "engine/ConnectionSettings.h"

const wchar_t* const kSettingsMutexName = L"Local\\FerrolinkSettingsIniMutex";

std::wstring SettingsFilePath()
{
    wchar_t buffer[260];
    std::wstring folder;
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, 260);
    if (length != 0 && length <= 259) {
        folder.assign(buffer, length);
    } else {
        wchar_t module[260] = {};
        GetModuleFileNameW(nullptr, module, 260);
        folder = module;
        const size_t slash = folder.find_last_of(L'\\');
        if (slash != std::wstring::npos)
            folder.resize(slash);
    }
    folder += L"\\Ferrolink";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\Ferrolink.ini";
}

SettingsLock::SettingsLock()
{
    m_mutex = CreateMutexW(nullptr, FALSE, kSettingsMutexName);
    if (m_mutex) {
        const DWORD result = WaitForSingleObject(m_mutex, kWaitMs);
        m_owned = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    }
}

SettingsLock::~SettingsLock()
{
    if (!m_mutex)
        return;
    // Releasing a mutex this thread does not own would fail anyway; after a
    // time-out there is nothing to release.
    if (m_owned)
        ReleaseMutex(m_mutex);
    CloseHandle(m_mutex);
}

std::wstring ReadSettingString(const wchar_t* section, const wchar_t* key, const std::wstring& fallback)
{
    wchar_t buffer[4096];
    const DWORD length =
        GetPrivateProfileStringW(section, key, fallback.c_str(), buffer, 4096, SettingsFilePath().c_str());
    return std::wstring(buffer, length);
}

int32_t ReadSettingInt(const wchar_t* section, const wchar_t* key, int32_t fallback)
{
    // A text no stored number can be marks a missing key.
    const std::wstring missing = L"\x01missing\x01";
    const std::wstring text = ReadSettingString(section, key, missing);
    return text == missing ? fallback : ParseLeadingInt(text);
}

void WriteSetting(const wchar_t* section, const wchar_t* key, const std::wstring& text)
{
    // Reading strips one pair of enclosing quotes, so a text that has its own
    // gets one more pair here and reads back as it was.
    const bool quoted = text.size() >= 2 && text.front() == L'"' && text.back() == L'"';
    const std::wstring value = quoted ? L'"' + text + L'"' : text;
    WritePrivateProfileStringW(section, key, value.c_str(), SettingsFilePath().c_str());
}

void WriteSettingInt(const wchar_t* section, const wchar_t* key, int32_t value)
{
    WriteSetting(section, key, std::to_wstring(value));
}
