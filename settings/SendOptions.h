#pragma once

#include <cstdint>

// How a payload is made beyond its text or bytes; section [Options] of the
// INI file, beside the log's.
struct SendOptions {
    bool escapes = false; // \r \n \t \0 \\ \xHH in a text payload
    int32_t checksum = 0; // a Checksum, as its number
    bool cr = false;
    bool lf = false;
    bool crlf = false;
    bool enterSends = false;
    int32_t repeatMs = 1000;
    bool clearAfterSend = false;
    bool hexFace = false; // the Hex tab was the one shown
    bool toSelected = false; // a server's or listener's sends go to the clients selected, not all
};

// Read when the window opens; missing keys are written with their defaults.
SendOptions LoadSendOptions();
void SaveSendOptions(const SendOptions& options);
