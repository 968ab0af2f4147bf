#include "settings/History.h"

#include "settings/SettingsStore.h"

#include "engine/ConnectionSettings.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwctype>

namespace {

std::atomic<uint64_t> g_writes{0};

std::wstring Trimmed(const std::wstring& text)
{
    size_t first = 0, last = text.size();
    while (first < last && std::iswspace(text[first]))
        ++first;
    while (last > first && std::iswspace(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

std::wstring ItemKey(size_t i)
{
    return L"Item" + std::to_wstring(i);
}

bool SameKey(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) == CSTR_EQUAL;
}

// Count or one of Item0 ... Item99.
bool OwnedKey(const std::wstring& key)
{
    if (SameKey(key, L"Count"))
        return true;
    for (size_t i = 0; i < kHistoryLimit; ++i)
        if (SameKey(key, ItemKey(i)))
            return true;
    return false;
}

const std::wstring* Find(const std::vector<SettingEntry>& entries, const std::wstring& key)
{
    for (const SettingEntry& e : entries)
        if (SameKey(e.key, key))
            return &e.value;
    return nullptr;
}

// Item 0 first, as stored; an item equal to a later one keeps the later
// place. The section is read in one go: 101 single reads make every send slow.
HistoryList ReadStoredList()
{
    const std::vector<SettingEntry> section = ReadSettingSection(L"History");
    const std::wstring* countText = Find(section, L"Count");
    int32_t count = countText ? ParseLeadingInt(*countText) : 0;
    count = std::min<int32_t>(count, int32_t(kHistoryLimit));
    HistoryList working;
    for (int32_t i = 0; i < count; ++i) {
        const std::wstring* item = Find(section, ItemKey(size_t(i)));
        AddToHistoryList(working, item ? *item : std::wstring());
    }
    std::reverse(working.begin(), working.end());
    return working;
}

// All 100 item keys, those past the count empty; keys of others stay.
void WriteList(const HistoryList& list)
{
    std::vector<SettingEntry> section;
    for (SettingEntry& e : ReadSettingSection(L"History"))
        if (!OwnedKey(e.key))
            section.push_back(std::move(e));
    section.push_back({L"Count", std::to_wstring(list.size())});
    for (size_t i = 0; i < kHistoryLimit; ++i)
        section.push_back({ItemKey(i), i < list.size() ? list[i] : std::wstring()});
    WriteSettingSection(L"History", section);
    ++g_writes;
}

HistoryList Normalised(const HistoryList& list)
{
    HistoryList working;
    for (const std::wstring& entry : list)
        AddToHistoryList(working, entry);
    std::reverse(working.begin(), working.end());
    return working;
}

} // namespace

std::wstring TextHistoryEntry(const std::wstring& text)
{
    return Trimmed(text);
}

void AddToHistoryList(HistoryList& list, const std::wstring& text)
{
    const bool hex = !text.empty() && text[0] == kHexHistoryMark;
    std::wstring entry = Trimmed(hex ? text.substr(1) : text);
    if (entry.empty())
        return;
    if (hex)
        entry.insert(entry.begin(), kHexHistoryMark);
    // One that the file would give back cut short would be sent cut short.
    if (!ReadsBackWhole(entry))
        return;
    list.erase(std::remove(list.begin(), list.end(), entry), list.end());
    list.insert(list.begin(), entry);
    if (list.size() > kHistoryLimit)
        list.resize(kHistoryLimit);
}

HistoryList LoadSendHistory()
{
    SettingsLock lock;
    return ReadStoredList();
}

void SaveSendHistory(const HistoryList& list)
{
    SettingsLock lock;
    WriteList(Normalised(list));
}

void AppendSendHistory(const std::wstring& text)
{
    SettingsLock lock;
    HistoryList list = ReadStoredList();
    AddToHistoryList(list, text);
    WriteList(list);
}

void MergeSendHistory(const HistoryList& list)
{
    SettingsLock lock;
    HistoryList merged = Normalised(list);
    for (const std::wstring& stored : ReadStoredList())
        if (merged.size() < kHistoryLimit && std::find(merged.begin(), merged.end(), stored) == merged.end())
            merged.push_back(stored);
    if (merged.size() > kHistoryLimit)
        merged.resize(kHistoryLimit);
    WriteList(merged);
}

uint64_t SendHistoryWrites()
{
    return g_writes;
}
