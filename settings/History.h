#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Recently sent texts, most recent first: trimmed, never blank, no exact
// duplicates, at most 100.
using HistoryList = std::vector<std::wstring>;

constexpr size_t kHistoryLimit = 100;

// Starts the entry of a payload sent from the Hex face, before its bytes
// ("41 42 0D"). No text entry starts with it: texts are trimmed.
constexpr wchar_t kHexHistoryMark = L'\t';

// An entry (a text trimmed, or a hex entry) goes to the top; one too long
// for the file to give back whole is not kept.
void AddToHistoryList(HistoryList& list, const std::wstring& entry);
// The entry of a sent text: trimmed, so that a text that began with a tab
// cannot pass for a hex entry.
std::wstring TextHistoryEntry(const std::wstring& text);

HistoryList LoadSendHistory();
// Replaces the stored history with this list (normalised).
void SaveSendHistory(const HistoryList& list);
// Merges one sent text into what the file holds now.
void AppendSendHistory(const std::wstring& text);
// At window close: this window's list first, then the stored entries it
// lacks (another copy may have added them meanwhile), cut to 100.
void MergeSendHistory(const HistoryList& list);
// How often the history section was written since the process started.
uint64_t SendHistoryWrites();
