#include "settings/SettingsStore.h"

#include "engine/ConnectionSettings.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <cwctype>

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

namespace {

// The load or save under way on this thread.
struct Transaction {
    int depth = 0;
    HANDLE mutex = nullptr;
    bool owned = false;
    std::wstring file;  // fixed for the whole load or save
    std::wstring draft; // the new file; empty until the first write
};

thread_local Transaction t_transaction;
std::atomic<uint64_t> g_acquisitions{0};
std::atomic<uint64_t> g_drafts{0};
std::function<void(const std::wstring&)> g_failureReport;

constexpr wchar_t kDraftSuffix[] = L".tmp";

std::wstring SystemText(DWORD code)
{
    wchar_t text[256] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, 256, nullptr);
    std::wstring out = text;
    while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r' || out.back() == L'.' || out.back() == L' '))
        out.pop_back();
    return out.empty() ? L"error " + std::to_wstring(code) : out;
}

// The old file's bytes under a name of this save's own; a file written
// afresh, so that it carries neither the old one's time nor its attributes.
void StartDraft(Transaction& t)
{
    t.draft = t.file + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++g_drafts) +
              kDraftSuffix;
    std::string bytes;
    const HANDLE old = CreateFileW(t.file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (old != INVALID_HANDLE_VALUE) {
        char chunk[16384];
        DWORD read = 0;
        while (ReadFile(old, chunk, sizeof(chunk), &read, nullptr) && read > 0)
            bytes.append(chunk, read);
        CloseHandle(old);
    }
    const HANDLE draft =
        CreateFileW(t.draft.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (draft == INVALID_HANDLE_VALUE)
        return; // the writes fail too, and the save says so at its end
    DWORD written = 0;
    if (!bytes.empty())
        WriteFile(draft, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(draft);
}

// The draft's bytes reach the disk before its name takes the old file's.
DWORD Commit(const Transaction& t)
{
    const HANDLE draft = CreateFileW(t.draft.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (draft == INVALID_HANDLE_VALUE)
        return GetLastError();
    FlushFileBuffers(draft);
    CloseHandle(draft);
    if (MoveFileExW(t.draft.c_str(), t.file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    DeleteFileW(t.draft.c_str());
    return error;
}

// Where this thread's load or save reads: its own writes first.
const std::wstring& ReadPath()
{
    const Transaction& t = t_transaction;
    return t.draft.empty() ? t.file : t.draft;
}

const std::wstring& WritePath()
{
    Transaction& t = t_transaction;
    if (t.draft.empty())
        StartDraft(t);
    return t.draft;
}

} // namespace

SettingsLock::SettingsLock()
{
    Transaction& t = t_transaction;
    if (t.depth++ > 0)
        return;
    ++g_acquisitions;
    t.mutex = CreateMutexW(nullptr, FALSE, kSettingsMutexName);
    if (t.mutex) {
        const DWORD result = WaitForSingleObject(t.mutex, kWaitMs);
        t.owned = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    }
    t.file = SettingsFilePath();
}

SettingsLock::~SettingsLock()
{
    Transaction& t = t_transaction;
    if (--t.depth > 0)
        return;
    const DWORD error = t.draft.empty() ? DWORD(ERROR_SUCCESS) : Commit(t);
    // Releasing a mutex this thread does not own would fail anyway; after a
    // time-out there is nothing to release.
    if (t.mutex) {
        if (t.owned)
            ReleaseMutex(t.mutex);
        CloseHandle(t.mutex);
    }
    t = Transaction{};
    if (error != ERROR_SUCCESS && g_failureReport)
        g_failureReport(L"Settings not saved: " + SystemText(error) + L"; the file keeps what it had.");
}

uint64_t SettingsLockAcquisitions()
{
    return g_acquisitions;
}

void SetSettingsSaveFailureReport(std::function<void(const std::wstring&)> report)
{
    g_failureReport = std::move(report);
}

void RemoveStaleSettingsDrafts()
{
    SettingsLock lock;
    // Without the lock, a draft may be another copy's save under way.
    if (!t_transaction.owned)
        return;
    const std::wstring file = t_transaction.file;
    const std::wstring folder = file.substr(0, file.find_last_of(L'\\') + 1);
    const std::wstring pattern = file + L".*" + kDraftSuffix;
    WIN32_FIND_DATAW found{};
    const HANDLE find = FindFirstFileW(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileW((folder + found.cFileName).c_str());
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

namespace {

// A value as read starts with a blank only when it was written in quotes
// with one: the reader trims the line, and earlier versions wrote such a
// value only for a single-quoted text with a blank inside, which they read
// back wrongly anyway. So a blank after the opening quote marks a value
// written in escaped form: one that would not survive as a line of its own
// (a line break, a control character, blanks at either end). Escapes:
// \\ \r \n \t \xHH.
constexpr wchar_t kEscapedMark = L' ';

bool NeedsEscapes(const std::wstring& text)
{
    if (text.empty())
        return false;
    if (text.front() == L' ' || text.front() == L'\t' || text.back() == L' ' || text.back() == L'\t')
        return true;
    return std::any_of(text.begin(), text.end(), [](wchar_t c) { return c < 0x20 && c != L'\t'; });
}

std::wstring Escaped(const std::wstring& text)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring out;
    for (const wchar_t c : text) {
        if (c == L'\\')
            out += L"\\\\";
        else if (c == L'\r')
            out += L"\\r";
        else if (c == L'\n')
            out += L"\\n";
        else if (c == L'\t')
            out += L"\\t";
        else if (c < 0x20)
            out += std::wstring(L"\\x") + digits[c >> 4] + digits[c & 0xF];
        else
            out += c;
    }
    return out;
}

std::wstring Unescaped(const std::wstring& text)
{
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        const wchar_t next = text[++i];
        if (next == L'r')
            out += L'\r';
        else if (next == L'n')
            out += L'\n';
        else if (next == L't')
            out += L'\t';
        else if (next == L'x' && i + 2 < text.size() && std::iswxdigit(text[i + 1]) && std::iswxdigit(text[i + 2])) {
            out += wchar_t(std::wcstoul(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += next; // "\\" and anything not written here
        }
    }
    return out;
}

// What the file holds for a text. Reading trims the line and strips one
// pair of enclosing quotes, single or double, so a text with its own gets
// one more pair; a text that would not survive a line gets escaped form.
std::wstring StoredForm(const std::wstring& text)
{
    if (NeedsEscapes(text))
        return L'"' + std::wstring(1, kEscapedMark) + Escaped(text) + L'"';
    const bool quoted =
        text.size() >= 2 && (text.front() == L'"' || text.front() == L'\'') && text.back() == text.front();
    return quoted ? text.front() + text + text.back() : text;
}

// The text a value read back stands for.
std::wstring FromStored(const std::wstring& value)
{
    if (!value.empty() && value.front() == kEscapedMark)
        return Unescaped(value.substr(1));
    return value;
}

} // namespace

std::wstring ReadSettingString(const wchar_t* section, const wchar_t* key, const std::wstring& fallback)
{
    SettingsLock lock;
    wchar_t buffer[4096];
    const DWORD length = GetPrivateProfileStringW(section, key, fallback.c_str(), buffer, 4096, ReadPath().c_str());
    return FromStored(std::wstring(buffer, length));
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
    SettingsLock lock;
    WritePrivateProfileStringW(section, key, StoredForm(text).c_str(), WritePath().c_str());
}

static std::wstring AsReadBack(std::wstring value)
{
    const size_t first = value.find_first_not_of(L" \t");
    const size_t last = value.find_last_not_of(L" \t");
    value = first == std::wstring::npos ? std::wstring() : value.substr(first, last - first + 1);
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    if (value.size() > 4095)
        value.resize(4095);
    return FromStored(value);
}

std::vector<SettingEntry> ReadSettingSection(const wchar_t* section)
{
    SettingsLock lock;
    const std::wstring path = ReadPath();
    std::vector<wchar_t> buffer(32768);
    DWORD length = 0;
    for (;;) {
        length = GetPrivateProfileSectionW(section, buffer.data(), DWORD(buffer.size()), path.c_str());
        if (length + 2 < buffer.size())
            break;
        buffer.resize(buffer.size() * 2);
    }
    std::vector<SettingEntry> entries;
    for (const wchar_t* line = buffer.data(); *line && line < buffer.data() + length; line += wcslen(line) + 1) {
        const std::wstring text = line;
        const size_t equals = text.find(L'=');
        if (equals == std::wstring::npos)
            continue;
        std::wstring key = text.substr(0, equals);
        const size_t keyEnd = key.find_last_not_of(L" \t");
        key.resize(keyEnd == std::wstring::npos ? 0 : keyEnd + 1);
        entries.push_back({key, AsReadBack(text.substr(equals + 1))});
    }
    return entries;
}

void WriteSettingSection(const wchar_t* section, const std::vector<SettingEntry>& entries)
{
    std::wstring block;
    for (const SettingEntry& e : entries) {
        block += e.key + L"=" + StoredForm(e.value);
        block += L'\0';
    }
    block += L'\0';
    SettingsLock lock;
    WritePrivateProfileSectionW(section, block.c_str(), WritePath().c_str());
}

void WriteSettingInt(const wchar_t* section, const wchar_t* key, int32_t value)
{
    WriteSetting(section, key, std::to_wstring(value));
}

int32_t ReadOrWriteSettingInt(const wchar_t* section, const wchar_t* key, int32_t fallback)
{
    constexpr int32_t kMissing = -1;
    const int32_t value = ReadSettingInt(section, key, kMissing);
    if (value != kMissing)
        return value;
    WriteSettingInt(section, key, fallback);
    return fallback;
}

int32_t ReadOrWriteOption(const wchar_t* key, int32_t fallback)
{
    return ReadOrWriteSettingInt(L"Options", key, fallback);
}

bool ReadOrWriteOption(const wchar_t* key, bool fallback)
{
    return ReadOrWriteSettingInt(L"Options", key, fallback ? 1 : 0) != 0;
}
