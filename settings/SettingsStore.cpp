#include "settings/SettingsStore.h"

#include "engine/ConnectionSettings.h"
#include "text/SystemError.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <cwctype>
#include <exception>

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
    int exceptions = 0; // uncaught when it began: more at its end abandons it
    HANDLE mutex = nullptr;
    bool owned = false;
    std::wstring file;            // fixed for the whole load or save
    std::wstring draft;           // the new file, once the first write made it
    DWORD error = ERROR_SUCCESS;  // the first failure: nothing more is written
};

thread_local Transaction t_transaction;
std::atomic<uint64_t> g_acquisitions{0};
std::atomic<uint64_t> g_drafts{0};
std::function<void(const std::wstring&)> g_failureReport;

constexpr wchar_t kDraftSuffix[] = L".tmp";

std::wstring SystemText(DWORD code)
{
    const std::wstring text = SystemErrorText(code);
    return text.empty() ? L"error " + std::to_wstring(code) : text;
}

DWORD LastErrorOr(DWORD fallback)
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

// The save writes nothing more, and what it wrote is dropped: reads go back
// to the file as it is.
void Abandon(Transaction& t, DWORD error)
{
    if (t.error == ERROR_SUCCESS)
        t.error = error;
    if (!t.draft.empty())
        DeleteFileW(t.draft.c_str());
    t.draft.clear();
}

// All of the old file; only a missing one is an empty start, not one that
// another program keeps from being read.
DWORD ReadWhole(const std::wstring& path, std::string& bytes)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? DWORD(ERROR_SUCCESS) : error;
    }
    DWORD error = ERROR_SUCCESS;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size))
        error = LastErrorOr(ERROR_READ_FAULT);
    char chunk[16384];
    while (error == ERROR_SUCCESS && bytes.size() < uint64_t(size.QuadPart)) {
        DWORD read = 0;
        if (!ReadFile(file, chunk, sizeof(chunk), &read, nullptr))
            error = LastErrorOr(ERROR_READ_FAULT);
        else if (read == 0)
            error = ERROR_HANDLE_EOF; // shorter than it said
        bytes.append(chunk, read);
    }
    CloseHandle(file);
    return error;
}

// The old file's bytes under a name of this save's own (the process is in
// it, for the sweep); written afresh, so that it carries neither the old
// one's time nor its attributes.
bool StartDraft(Transaction& t)
{
    std::string bytes;
    if (const DWORD error = ReadWhole(t.file, bytes)) {
        Abandon(t, error);
        return false;
    }
    const std::wstring draft = t.file + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                               std::to_wstring(++g_drafts) + kDraftSuffix;
    const HANDLE file =
        CreateFileW(draft.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Abandon(t, LastErrorOr(ERROR_WRITE_FAULT));
        return false;
    }
    t.draft = draft;
    DWORD written = 0;
    const bool whole =
        bytes.empty() || (WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size());
    const DWORD error = whole ? DWORD(ERROR_SUCCESS) : LastErrorOr(ERROR_WRITE_FAULT);
    CloseHandle(file);
    if (!whole)
        Abandon(t, error);
    return whole;
}

bool Retryable(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

// The draft's bytes reach the disk before its name takes the old file's. A
// scanner or indexer that has the old file open for a moment is waited out.
DWORD Commit(const Transaction& t)
{
    const HANDLE draft = CreateFileW(t.draft.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = ERROR_SUCCESS;
    if (draft == INVALID_HANDLE_VALUE || !FlushFileBuffers(draft))
        error = LastErrorOr(ERROR_WRITE_FAULT);
    if (draft != INVALID_HANDLE_VALUE)
        CloseHandle(draft);
    for (int attempt = 0; error == ERROR_SUCCESS; ++attempt) {
        if (MoveFileExW(t.draft.c_str(), t.file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            // The system's cached copy of the file is known by its time of
            // writing, which a coarse file system may give the new one too.
            WritePrivateProfileStringW(nullptr, nullptr, nullptr, t.file.c_str());
            return ERROR_SUCCESS;
        }
        error = LastErrorOr(ERROR_WRITE_FAULT);
        if (attempt < 4 && Retryable(error)) {
            error = ERROR_SUCCESS;
            Sleep(25);
        }
    }
    DeleteFileW(t.draft.c_str());
    return error;
}

// Where this thread's load or save reads: its own writes first.
const std::wstring& ReadPath()
{
    const Transaction& t = t_transaction;
    return t.draft.empty() ? t.file : t.draft;
}

// Null once the save has failed: it writes nothing more.
const wchar_t* WritePath()
{
    Transaction& t = t_transaction;
    if (t.error != ERROR_SUCCESS || (t.draft.empty() && !StartDraft(t)))
        return nullptr;
    return t.draft.c_str();
}

void NoteWrite(BOOL written)
{
    if (!written)
        Abandon(t_transaction, LastErrorOr(ERROR_WRITE_FAULT));
}

// The process named in a draft's name, if it still runs: the draft may then
// be its save under way, made without the lock after the wait gave up.
bool WriterRuns(const std::wstring& draftName, const std::wstring& fileName)
{
    const DWORD pid = DWORD(std::wcstoul(draftName.c_str() + fileName.size() + 1, nullptr, 10));
    const HANDLE process = pid ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr;
    if (!process)
        return false;
    const bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return runs;
}

} // namespace

SettingsLock::SettingsLock()
{
    Transaction& t = t_transaction;
    if (t.depth > 0) {
        ++t.depth;
        return;
    }
    std::wstring file = SettingsFilePath();
    ++g_acquisitions;
    t.mutex = CreateMutexW(nullptr, FALSE, kSettingsMutexName);
    if (t.mutex) {
        const DWORD result = WaitForSingleObject(t.mutex, kWaitMs);
        t.owned = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    }
    t.file = std::move(file);
    t.exceptions = std::uncaught_exceptions();
    t.depth = 1;
}

SettingsLock::~SettingsLock()
{
    Transaction& t = t_transaction;
    if (--t.depth > 0)
        return;
    // A save that an exception cut short is dropped, not half kept.
    const bool cutShort = std::uncaught_exceptions() > t.exceptions;
    if (cutShort)
        Abandon(t, ERROR_SUCCESS);
    DWORD error = t.error;
    if (error == ERROR_SUCCESS && !t.draft.empty())
        error = Commit(t);
    // Releasing a mutex this thread does not own would fail anyway; after a
    // time-out there is nothing to release.
    if (t.mutex) {
        if (t.owned)
            ReleaseMutex(t.mutex);
        CloseHandle(t.mutex);
    }
    t = Transaction{};
    if (error == ERROR_SUCCESS || cutShort || !g_failureReport)
        return;
    try {
        g_failureReport(L"Settings not saved: " + SystemText(error) + L"; the file keeps what it had.");
    } catch (...) {
        // Nothing more can be said about it.
    }
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
    const std::wstring file = t_transaction.file;
    const size_t slash = file.find_last_of(L'\\') + 1;
    const std::wstring folder = file.substr(0, slash), fileName = file.substr(slash);
    const std::wstring pattern = file + L".*" + kDraftSuffix;
    WIN32_FIND_DATAW found{};
    const HANDLE find = FindFirstFileW(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !WriterRuns(found.cFileName, fileName))
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
    if (const wchar_t* path = WritePath())
        NoteWrite(WritePrivateProfileStringW(section, key, StoredForm(text).c_str(), path));
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

bool ReadsBackWhole(const std::wstring& text)
{
    return AsReadBack(StoredForm(text)) == text;
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
    if (const wchar_t* path = WritePath())
        NoteWrite(WritePrivateProfileSectionW(section, block.c_str(), path));
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
