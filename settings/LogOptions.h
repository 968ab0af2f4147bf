#pragma once

#include <cstdint>

// How the log shows and bounds its lines; section [Options] of the INI file.
struct LogOptions {
    bool milliseconds = false;
    bool peers = true;
    bool receivedAsHex = false;
    bool sentAsHex = false;
    int32_t lines = 100000;
    int32_t characters = 64 << 20;
    int32_t journalMegabytes = 64; // traffic kept in memory; the rest goes to disk
};

// Read when the window opens; a key that is missing is written with its
// default, so that the file shows what can be set. Bounds below a sane
// minimum fall back to the defaults.
LogOptions LoadLogOptions();
// What the user chose from the log's menu.
void SaveLogOptions(const LogOptions& options);
