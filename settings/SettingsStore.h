#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The per-user INI file: "<LOCALAPPDATA>\Ferrolink\Ferrolink.ini", or beside
// the executable when LOCALAPPDATA is missing or too long. The folder is
// created on every call; nothing caches the path.
std::wstring SettingsFilePath();

// One whole load or save: holds the cross-process lock, and gathers the
// writes made meanwhile into a new file beside the old one, which replaces
// it in one step when the outermost lock ends, so a crash leaves the old
// file or the new one, never a part. Locks nest on a thread: only the
// outermost waits for the mutex, at most 3000 ms, and then goes ahead
// without it, so the store never blocks the window for longer.
class SettingsLock {
public:
    static constexpr DWORD kWaitMs = 3000;
    SettingsLock();
    ~SettingsLock();
    SettingsLock(const SettingsLock&) = delete;
    SettingsLock& operator=(const SettingsLock&) = delete;
};

// How many times a lock was waited for (outermost ones only).
uint64_t SettingsLockAcquisitions();

// Told, on the saving thread, when a save could not replace the file: the
// old one is left as it was. An empty function stops the telling.
void SetSettingsSaveFailureReport(std::function<void(const std::wstring&)> report);

// New files that a copy killed while saving left behind; nobody reads them.
void RemoveStaleSettingsDrafts();

extern const wchar_t* const kSettingsMutexName;

// At most 4095 characters of a value are returned.
std::wstring ReadSettingString(const wchar_t* section, const wchar_t* key, const std::wstring& fallback);
// An optional minus sign and the leading digits; 0 when there are none,
// `fallback` when the key is missing.
int32_t ReadSettingInt(const wchar_t* section, const wchar_t* key, int32_t fallback);
// An empty text writes "Key=" rather than deleting the key.
void WriteSetting(const wchar_t* section, const wchar_t* key, const std::wstring& text);
void WriteSettingInt(const wchar_t* section, const wchar_t* key, int32_t value);
// The value of a key; a missing one (or -1) is written with `fallback` first,
// so that the file shows what can be set.
int32_t ReadOrWriteSettingInt(const wchar_t* section, const wchar_t* key, int32_t fallback);
// The same in [Options], where the program's choices live; a flag is 0 or 1.
int32_t ReadOrWriteOption(const wchar_t* key, int32_t fallback);
bool ReadOrWriteOption(const wchar_t* key, bool fallback);

// A whole section in one read or one write, for the history's 101 keys.
// Values read as ReadSettingString gives them (trimmed, one pair of
// enclosing quotes removed, at most 4095 characters).
struct SettingEntry {
    std::wstring key;
    std::wstring value;
};
std::vector<SettingEntry> ReadSettingSection(const wchar_t* section);
// Whether a text written as a value comes back as it was, within the
// 4095 characters a read gives.
bool ReadsBackWhole(const std::wstring& text);
void WriteSettingSection(const wchar_t* section, const std::vector<SettingEntry>& entries);
