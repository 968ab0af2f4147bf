#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The numbers double as the kinds of log lines.
enum class TransportEventKind : uint32_t {
    Status = 0,
    Received = 1,
    Sent = 2,
    Error = 3,
    ClientAdded = 4,
    ClientRemoved = 5,
};

// lParam carries one heap TransportEvent; the receiving window owns it from
// the post on and frees it on every path.
constexpr UINT WM_TRANSPORT_EVENT = WM_APP + 0x65;

// How the window shows a payload once its link has written it; the link
// carries it along unread.
struct SendTag {
    bool asHex = false; // sent from the Hex face: shown as hex pairs
    uint32_t checksumFrom = 0, checksumCount = 0; // a text's checksum, shown as raw bytes
    bool toOnePeer = false; // its line and record name the peer it went to
    uint32_t note = 0;      // the automation's line that follows its TX line; 0: none
    // It leaves no earlier than this (SteadyMicroseconds); 0: at once. Handed
    // over ahead of its time, it leaves on time however busy the window is.
    uint64_t notBeforeUs = 0;
    // Set, it is taken back: a payload handed over ahead that has not left
    // by then never does.
    std::shared_ptr<const std::atomic<bool>> withdrawn;
    // Handed on by a bridge from its other link: journalled and counted,
    // with no line of its own.
    bool bridged = false;
};

// What a serial port's event says about its control lines.
enum class SerialSignal : uint8_t {
    None,
    Lines,           // the lines after the device changed one, or as the port opened
    LinesSet,        // the lines after this end set DTR or RTS
    LinesUnreported, // the port tells nothing of its inputs; the lines hold DTR and RTS
    BreakSent,
    BreakReceived,
};

class PostBudget;

// Bytes of a link's budget that an event holds until it is freed, handled
// or not. A copy holds none.
class BudgetTicket {
public:
    BudgetTicket() = default;
    BudgetTicket(std::shared_ptr<PostBudget> budget, size_t bytes);
    BudgetTicket(const BudgetTicket&) {}
    BudgetTicket(BudgetTicket&& other) noexcept : m_budget(std::move(other.m_budget)), m_bytes(other.m_bytes) {}
    BudgetTicket& operator=(const BudgetTicket&) { return *this; }
    BudgetTicket& operator=(BudgetTicket&& other) noexcept;
    ~BudgetTicket() { Release(); }
    void Release();

private:
    std::shared_ptr<PostBudget> m_budget;
    size_t m_bytes = 0;
};

struct TransportEvent {
    TransportEventKind kind = TransportEventKind::Status;
    std::wstring text;
    std::wstring peer;
    // The server's number for the client the event is about; 0 for events
    // that are not about one client.
    uint32_t clientId = 0;
    // Set by a worker on the events it posts once its link has really ended
    // (a failed start, the closing status, the error that closed it).
    bool linkEnded = false;
    std::vector<uint8_t> data;
    // Traffic spoilt or cut short that this event reports, its lost bytes
    // unknown: a datagram larger than the receive buffer, serial line errors.
    uint32_t damaged = 0;
    // The connection went and the link tries again (Reconnect): what came
    // before it belongs to the lost one.
    bool connectionLost = false;
    // When the worker took received bytes, on SteadyMicroseconds(): what the
    // log's framing measures gaps and first bytes by.
    uint64_t receivedUs = 0;
    // When the worker saw it happen, in microseconds since 1970 (UTC): what
    // the journal and captures are stamped with, however late the window
    // takes it. 0 for an event the window made.
    uint64_t arrivedUs = 0;
    // A Sent event's payload as the window asked for it to be shown.
    SendTag sendTag;
    // A serial port's control lines (SerialLine bits) as of this event.
    SerialSignal serial = SerialSignal::None;
    // A line for the log alone: the status keeps what it says (a TLS
    // session's details).
    bool logOnly = false;
    uint8_t serialLines = 0;
    // Bytes that were queued to be sent and never left (the link ended, a
    // send failed): the event says so, and they count as lost.
    uint64_t lostBytes = 0;
    // Which of a bridge's two links posted it: 0 for the first (and a link
    // that is not bridged), 1 for the second.
    uint8_t side = 0;
    BudgetTicket ticket;
};

// The microseconds since 1970-01-01 UTC now.
uint64_t MicrosecondsNow();

// A clock that only goes forward, in microseconds, for every thread alike.
uint64_t SteadyMicroseconds();

class TransportBase;

// Posts one event to the transport's notify window; false when it was not
// delivered (the record is then freed here). A failed post is retried while
// the transport is meant to run and the window exists, so a full message
// queue slows the link down instead of dropping what it received.
bool PostTransportEvent(const TransportBase& transport, TransportEvent event);
bool PostTransportEvent(const TransportBase& transport, TransportEventKind kind, std::wstring text,
                        const std::wstring& peer = {}, std::vector<uint8_t> data = {});

// The bytes of traffic whose events no window took (the link was stopping
// or its window going), since the process started.
uint64_t UnpostedTrafficBytes();

// Tests replace the post call to provoke the queue-full path, which the
// platform under test never produces. Returns the previous function.
using PostMessageFunction = BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM);
PostMessageFunction SetPostMessageFunction(PostMessageFunction post);

