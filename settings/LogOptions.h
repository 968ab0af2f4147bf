#pragma once

#include <cstdint>
#include <string>

// How the log shows and bounds its lines; section [Options] of the INI file.
struct LogOptions {
    bool milliseconds = false;
    bool sincePrevious = false; // each line shows its time after the one before
    bool peers = true;
    bool receivedAsHex = false;
    bool sentAsHex = false;
    int32_t lines = 100000;
    int32_t characters = 64 << 20;
    int32_t journalMegabytes = 64; // traffic kept in memory; the rest goes to disk
    int32_t journalDiskMegabytes = 4096; // what the journal may put on disk
    int32_t udpSenders = 4096; // a listener's list; the sender silent longest goes first
    int32_t tcpClients = 4096; // a server closes a connection past these at once
};

// One of these keys: its name, default and bounds.
struct BoundedOption {
    const wchar_t* key;
    int32_t fallback, least, most;
};
// A whole number within the bounds; anything else (a number out of them, a
// text that is no number) reads as the default.
int32_t ReadBoundedOption(const std::wstring& text, const BoundedOption& option);

// Read when the window opens; a key that is missing is written with its
// default, so that the file shows what can be set.
LogOptions LoadLogOptions();
// What the user chose from the log's menu.
void SaveLogOptions(const LogOptions& options);
