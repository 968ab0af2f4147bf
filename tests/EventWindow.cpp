#include "tests/EventWindow.h"

#include <tlhelp32.h>

#include <algorithm>
#include <climits>

static const wchar_t kClassName[] = L"FerrolinkTestEventWindow";

EventWindow::EventWindow()
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    RegisterClassW(&wc); // fails harmlessly when already registered
    m_wnd = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            wc.hInstance, this);
}

EventWindow::~EventWindow()
{
    DestroyWindow(m_wnd);
    // Events still queued for the dead window would leak; take them here.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_TRANSPORT_EVENT, WM_TRANSPORT_EVENT, PM_REMOVE))
        delete reinterpret_cast<TransportEvent*>(msg.lParam);
}

LRESULT CALLBACK EventWindow::Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_NCCREATE) {
        auto create = reinterpret_cast<CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto self = reinterpret_cast<EventWindow*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
    if (msg == WM_TRANSPORT_EVENT) {
        std::unique_ptr<TransportEvent> event(reinterpret_cast<TransportEvent*>(lp));
        if (self && event) {
            if (self->m_handler)
                self->m_handler(*event);
            event->ticket.Release(); // handled, as the main window's are
            self->m_events.push_back(std::move(event));
        }
        return 0;
    }
    return DefWindowProcW(wnd, msg, wp, lp);
}

bool EventWindow::WaitUntil(const std::function<bool(const EventWindow&)>& done, int timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(timeoutMs);
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done(*this))
            return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(std::min<ULONGLONG>(deadline - now, 20)),
                                  QS_ALLINPUT);
    }
}

bool EventWindow::WaitForText(TransportEventKind kind, const std::wstring& text, int timeoutMs)
{
    return WaitUntil([&](const EventWindow& w) { return w.Has(kind, text); }, timeoutMs);
}

void EventWindow::PumpFor(int ms)
{
    WaitUntil([](const EventWindow&) { return false; }, ms);
}

size_t EventWindow::Count(TransportEventKind kind) const
{
    size_t n = 0;
    for (const auto& e : m_events)
        n += e->kind == kind ? 1 : 0;
    return n;
}

bool EventWindow::Has(TransportEventKind kind, const std::wstring& text) const
{
    for (const auto& e : m_events)
        if (e->kind == kind && e->text == text)
            return true;
    return false;
}

std::vector<uint8_t> EventWindow::ReceivedBytes() const
{
    std::vector<uint8_t> bytes;
    for (const auto& e : m_events)
        if (e->kind == TransportEventKind::Received)
            bytes.insert(bytes.end(), e->data.begin(), e->data.end());
    return bytes;
}

std::vector<std::wstring> EventWindow::Texts() const
{
    std::vector<std::wstring> texts;
    for (const auto& e : m_events)
        if (e->kind != TransportEventKind::Received)
            texts.push_back(e->text);
    return texts;
}

size_t CountProcessThreads()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    size_t count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    CloseHandle(snapshot);
    return count;
}

std::wstring ClipboardText(HWND owner)
{
    std::wstring text = L"(none)";
    if (!OpenClipboard(owner))
        return text;
    if (const HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

size_t SettledThreadCount(size_t expected)
{
    // Wine's own helper threads for a closed port take a while to end on a
    // busy machine; a leaked worker never does.
    for (int i = 0; i < 200 && CountProcessThreads() > expected; ++i)
        Sleep(50);
    return CountProcessThreads();
}

size_t CountProcessHandles()
{
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0)
        return count;
    // Wine answers 0 there; the system's handle table has them all.
    using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return 0;
    struct Entry {
        USHORT process;
        USHORT creatorBackTrace;
        UCHAR type;
        UCHAR attributes;
        USHORT handle;
        void* object;
        ULONG access;
    };
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr LONG kLengthMismatch = LONG(0xC0000004);
    std::vector<char> buffer(1 << 20);
    ULONG needed = 0;
    LONG status;
    while ((status = query(kSystemHandleInformation, buffer.data(), ULONG(buffer.size()), &needed)) == kLengthMismatch)
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return 0;
    const ULONG entries = *reinterpret_cast<const ULONG*>(buffer.data());
    const auto* entry = reinterpret_cast<const Entry*>(buffer.data() + sizeof(void*));
    size_t mine = 0;
    for (ULONG i = 0; i < entries; ++i)
        mine += entry[i].process == USHORT(GetCurrentProcessId()) ? 1 : 0;
    return mine;
}

long HandlesLeftBehind(const std::function<void()>& cycle)
{
    cycle();
    // A leak adds handles on every run. The thread library makes a mutex's
    // wait event the first time the mutex is contended, which may be in any
    // run, and keeps it as long as the mutex lives: that adds once.
    long least = LONG_MAX;
    for (int run = 0; run < 3 && least > 0; ++run) {
        const size_t before = CountProcessHandles();
        cycle();
        // What the system is still tidying away (Wine ends its own helper
        // threads for a port a little after the port is closed) goes soon.
        for (int i = 0; i < 200 && CountProcessHandles() > before; ++i)
            Sleep(50);
        least = std::min(least, long(CountProcessHandles()) - long(before));
    }
    return least;
}

std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed)
{
    std::vector<uint8_t> bytes(count);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x);
    }
    return bytes;
}

double MedianDeliveryMs(const PayloadSender& send, const FarEndReader& receive, int rounds)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        Sleep(20); // idle, as between a user's sends
        const std::vector<uint8_t> payload = {uint8_t('a' + i % 26)};
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        if (!send(payload) || receive(1, 2000) != payload)
            return -1;
        QueryPerformanceCounter(&end);
        times.push_back(double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::string TakeFileContents(const std::wstring& path)
{
    std::string text;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    char buffer[4096];
    DWORD got = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got)
        text.append(buffer, got);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    DeleteFileW(path.c_str());
    return text;
}
