#pragma once

#include <cstdint>
#include <string>

// A network link's choices besides its address and mode, set in a dialog
// of their own.
struct NetworkOptions {
    // One local address instead of all (empty: all), and a client's own
    // port (0: any the system picks).
    std::wstring localIp;
    uint16_t localPort = 0;
    // An IPv4 group a UDP listener joins on the local address (empty: none);
    // how a UDP client sends to a group.
    std::wstring multicastGroup;
    uint8_t multicastTtl = 1;
    bool multicastLoopback = true;
    // A TLS client checks the server's certificate unless told to accept
    // any; a TLS server shows the certificate of a .pfx file.
    bool acceptAnyCertificate = false;
    std::wstring certificateFile;
    friend bool operator==(const NetworkOptions&, const NetworkOptions&) = default;
};

// The user's link choices. A plain value: each worker gets its own copy.
struct ConnectionSettings {
    uint32_t useSerial = 0;
    uint32_t isUdp = 0;
    uint32_t isServer = 0;
    std::wstring ip = L"127.0.0.1";
    uint16_t port = 5000;
    std::wstring serialPort;
    uint32_t baud = 115200;
    uint8_t dataBits = 8;
    uint8_t stopBits = 0;     // DCB StopBits code: 0 one, 1 one and a half, 2 two
    uint8_t parity = 0;       // DCB Parity code: none, odd, even, mark, space
    uint32_t flowControl = 0; // 0 none, 1 RTS/CTS, 2 XON/XOFF
    // What DTR and RTS are as the port opens, before its first byte.
    bool dtrAtOpen = true;
    bool rtsAtOpen = true;

    // TCP over TLS.
    bool tls = false;
    NetworkOptions net;
    std::wstring certificatePassword; // held for the run, never saved
};

// What the window's controls hold when the user connects: list positions
// (-1 when nothing is selected) and box texts as typed.
struct ControlValues {
    int communication = -1; // "TCP", "UDP", "Serial"
    int mode = -1;          // "Client", "Server"
    std::wstring ipText;
    std::wstring portText;
    std::wstring serialPortText;
    std::wstring baudText;
    std::wstring dataBitsText;
    int stopBits = -1;
    int parity = -1;
    int flowControl = -1;
    bool dtr = true;
    bool rts = true;
    bool tls = false;
};

enum CommunicationChoice { CommTcp = 0, CommUdp = 1, CommSerial = 2 };
enum ModeChoice { ModeClient = 0, ModeServer = 1 };

// Leading decimal integer of a text (spaces and a sign allowed before the
// digits), saturated to the 32-bit range; 0 when there are no digits.
int32_t ParseLeadingInt(const std::wstring& text);

// Why the typed Port (network links) or Baud (serial) cannot be used, as the
// log's error line says it; empty when they can. An empty box is fine: it
// stands for the default. A number is refused rather than cut to fit, which
// would connect somewhere the user did not type.
std::wstring ControlValuesProblem(const ControlValues& controls);

// Builds the record the window connects with. Only the fields of the chosen
// kind of link are read; an empty box leaves its field at the default.
ConnectionSettings SettingsFromControls(const ControlValues& controls);
