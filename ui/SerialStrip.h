#pragma once

#include "engine/ConnectionController.h"
#include "engine/SerialLines.h"
#include "engine/TransportEvent.h"
#include "framework/Window.h"

#include <cstdint>
#include <string>

class LogPane;

// What the lamps of CTS, DSR, DCD and RI show, decided without a window.
enum class Lamp : uint8_t { Unknown, Off, On };
struct LampsView {
    Lamp lamps[4] = {Lamp::Unknown, Lamp::Unknown, Lamp::Unknown, Lamp::Unknown};
    bool unreported = false; // the port tells nothing of them
};
extern const wchar_t* const kLampNames[4];
// `open`: the serial port is open; `signal` and `lines`: its last word on them.
LampsView LampsFor(bool open, SerialSignal signal, uint8_t lines);

// A DTR or RTS box: the line itself while the port is open (grey while
// RTS/CTS flow control drives RTS), the choice for the next open otherwise.
int LineBoxState(bool open, bool driven, bool lineOn, bool choiceOn);

// A pulse's or a Break's length as typed, 1 to 10000 ms; 0 for anything else.
uint32_t ControlLengthMs(const std::wstring& text);

// The serial port's control lines in the window: DTR and RTS set by hand or
// chosen for the next open, pulses, Breaks, and the lamps of the inputs.
class SerialStrip {
public:
    void Attach(Window dialog, ConnectionController& controller, LogPane& log);
    void Detach() { m_tips = nullptr; }

    // The choice of DTR and RTS at open, as stored.
    void SetLinesAtOpen(bool dtr, bool rts);
    bool DtrAtOpen() const { return m_dtrAtOpen; }
    bool RtsAtOpen() const { return m_rtsAtOpen; }
    // A serial link has started (with its flow control) or ended.
    void SetOpen(bool open, uint32_t flowControl = 0);
    void OnEvent(const TransportEvent& event);
    // True when the command was the strip's.
    bool OnCommand(int id);
    bool OnDrawItem(const DRAWITEMSTRUCT& item) const;

private:
    void Change(LineControl::Line line, LineControl::Action action, uint32_t ms = 0);
    // The length in its box, or 0 after saying why it cannot be used.
    uint32_t LengthIn(int editId, const wchar_t* what);
    void Show();

    Window m_dialog;
    ConnectionController* m_controller = nullptr;
    LogPane* m_log = nullptr;
    HWND m_tips = nullptr;
    bool m_dtrAtOpen = true, m_rtsAtOpen = true;
    bool m_open = false;
    bool m_handshake = false;
    SerialSignal m_signal = SerialSignal::None;
    uint8_t m_lines = 0;
};
