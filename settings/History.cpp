#include "settings/History.h"

#include "settings/SettingsStore.h"

#include <algorithm>
#include <cwctype>

namespace {

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

// Item 0 first, as stored; an item equal to a later one keeps the later place.
HistoryList ReadStoredList()
{
    int32_t count = ReadSettingInt(L"History", L"Count", 0);
    count = std::min<int32_t>(count, int32_t(kHistoryLimit));
    HistoryList working;
    for (int32_t i = 0; i < count; ++i)
        AddToHistoryList(working, ReadSettingString(L"History", ItemKey(size_t(i)).c_str(), L""));
    std::reverse(working.begin(), working.end());
    return working;
}

void WriteList(const HistoryList& list)
{
    WriteSettingInt(L"History", L"Count", int32_t(list.size()));
    for (size_t i = 0; i < kHistoryLimit; ++i)
        WriteSetting(L"History", ItemKey(i).c_str(), i < list.size() ? list[i] : std::wstring());
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

void AddToHistoryList(HistoryList& list, const std::wstring& text)
{
    const std::wstring entry = Trimmed(text);
    if (entry.empty())
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
