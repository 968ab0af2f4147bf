#include "ui/AutomationSide.h"

#include "engine/ConnectionController.h"
#include "settings/LibraryStore.h"
#include "text/SystemError.h"
#include "ui/AutomationWindow.h"
#include "ui/ClientList.h"
#include "ui/LogPane.h"
#include "ui/SendPane.h"

AutomationSide::AutomationSide() : m_automation(*this) {}

AutomationSide::~AutomationSide()
{
    Detach();
}

void AutomationSide::Attach(Window dialog, ConnectionController& controller, LogPane& log, SendPane& send,
                            ClientList& clients)
{
    m_dialog = dialog;
    m_controller = &controller;
    m_log = &log;
    m_send = &send;
    m_clients = &clients;
    m_waker.Attach(dialog.Handle(), WM_AUTOMATION_DUE);
    Library library;
    if (const std::wstring problem = LoadAutomationLibrary(library); !problem.empty())
        Say(true, problem + L" It is left as it is; changes made now replace it.");
    m_automation.SetLibrary(std::move(library));
    TrafficCore& core = log.Core();
    core.SetMessageWatcher([this](const TrafficCore::Message& m) {
        m_automation.OnMessage(m.bytes, m.size, m.client, m.peer, m.arrivedUs, SteadyMicroseconds(), m.side);
        m_pumpDue = true; // once the event or tick that made it is done
    });
    core.SetWrittenNote(
        [this](const SendTag& tag, uint64_t writtenUs) { return m_automation.OnWritten(tag, writtenUs); });
}

void AutomationSide::Detach()
{
    m_waker.Stop();
    if (m_log) {
        m_log->Core().SetMessageWatcher(nullptr);
        m_log->Core().SetWrittenNote(nullptr);
    }
    m_window.reset();
    m_log = nullptr;
}

// A message that framing lets go by its time is answered then, not at the
// window's next refresh: the waker wakes for it too.
void AutomationSide::Pump()
{
    m_pumpDue = false;
    uint64_t due = m_automation.Advance(SteadyMicroseconds());
    if (m_log && m_automation.Watching())
        due = std::min(due, m_log->Core().FramingDueUs());
    m_waker.WakeAt(due);
}

void AutomationSide::AfterEvent(bool received)
{
    if (m_pumpDue || (received && m_automation.Watching()))
        Pump();
}

void AutomationSide::OnDue()
{
    m_waker.Taken();
    // Blocks still queued may come before a held message's time is up.
    MSG queued;
    if (m_log && m_automation.Watching() &&
        !PeekMessageW(&queued, m_dialog.Handle(), WM_TRANSPORT_EVENT, WM_TRANSPORT_EVENT, PM_NOREMOVE))
        m_log->Core().FlushFraming(false);
    Pump();
}

void AutomationSide::LinkEnded()
{
    m_automation.OnLinkEnded();
    Pump();
}

bool AutomationSide::PreTranslateMessage(MSG& msg)
{
    if ((msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) && msg.wParam >= VK_F1 &&
        msg.wParam <= VK_F12) {
        const HWND root = GetAncestor(msg.hwnd, GA_ROOT);
        if (root != m_dialog.Handle() && !(m_window && root == m_window->Handle()))
            return false;
        const Shortcut key{int(msg.wParam - VK_F1) + 1, (GetKeyState(VK_SHIFT) & 0x8000) != 0};
        for (size_t i = 0; i < Lib().commands.size(); ++i)
            if (Lib().commands[i].shortcut == key) {
                SendCommand(i);
                return true;
            }
        return false;
    }
    return m_window && m_window->Handle() && IsDialogMessageW(m_window->Handle(), &msg);
}

void AutomationSide::ShowWindow()
{
    if (!m_window) {
        m_window = std::make_unique<CAutomationWnd>(*this);
        if (!m_window->Create(m_dialog.Handle())) {
            m_window.reset();
            Say(true, L"The automation window could not be made.");
            return;
        }
    }
    m_window->ShowBeside(m_dialog.Handle());
}

void AutomationSide::Refresh()
{
    if (m_pumpDue) // the tick let go of framed messages
        Pump();
    if (m_window && IsWindowVisible(m_window->Handle()))
        m_window->Refresh();
}

void AutomationSide::ChangeLibrary(Library library, bool reload)
{
    m_automation.SetLibrary(std::move(library));
    if (const std::wstring problem = SaveAutomationLibrary(m_automation.Lib()); !problem.empty())
        Say(true, problem);
    if (reload && m_window)
        m_window->Reload();
}

bool AutomationSide::SendCommand(size_t index)
{
    if (index >= Lib().commands.size())
        return false;
    return m_send->SendCommand(Lib().commands[index]);
}

void AutomationSide::RunSequence(size_t index)
{
    if (index >= Lib().sequences.size())
        return;
    if (!m_controller->IsRunning()) {
        Say(true, L"A sequence needs an open link.");
        return;
    }
    m_automation.StartSequence(Lib().sequences[index].name, SteadyMicroseconds());
    Pump();
}

void AutomationSide::StopSequence()
{
    m_automation.StopSequence(L"stopped by the user");
    Pump();
}

void AutomationSide::SetResponderOn(bool on)
{
    if (on == m_automation.ResponderOn())
        return;
    m_automation.SetResponderOn(on);
    size_t enabled = 0;
    for (const ResponderRule& rule : Lib().rules)
        enabled += rule.enabled;
    Say(false, on ? L"The responder answers received messages (" + std::to_wstring(enabled) + L" of " +
                        std::to_wstring(Lib().rules.size()) + L" rules enabled)."
                  : L"The responder no longer answers.");
}

uint64_t AutomationSide::RuleMatches(size_t index) const
{
    const Responder& rules = m_automation.Rules();
    return index < rules.RuleCount() ? rules.Matches(index) : 0;
}

std::wstring AutomationSide::SequenceState() const
{
    const SequenceRunner& runner = m_automation.Runner();
    if (!runner.Running())
        return L"No sequence runs.";
    return L"\"" + runner.Name() + L"\": " + runner.Progress();
}

std::wstring AutomationSide::Import(const std::wstring& path)
{
    std::string bytes;
    DWORD error = 0;
    if (!ReadWholeFile(path, bytes, error) || error == ERROR_FILE_NOT_FOUND)
        return L"The library was not imported: " + path + L" could not be read (" + SystemErrorText(error) + L").";
    Library library;
    if (const std::wstring problem = ReadLibrary(bytes, library); !problem.empty())
        return L"The library was not imported from " + path + L":\n" + problem + L"\nThe library is as it was.";
    ChangeLibrary(std::move(library));
    Say(false, L"Library imported from " + path + L": " + std::to_wstring(Lib().commands.size()) + L" commands, " +
                   std::to_wstring(Lib().sequences.size()) + L" sequences, " + std::to_wstring(Lib().rules.size()) +
                   L" rules.");
    return L"";
}

std::wstring AutomationSide::Export(const std::wstring& path) const
{
    DWORD error = 0;
    if (!ReplaceFileWith(path, WriteLibrary(Lib()), error))
        return L"The library was not exported to " + path + L": " + SystemErrorText(error) + L".";
    return L"";
}

SendResult AutomationSide::Send(const BuiltPayload& payload, const SendTag& tag)
{
    return m_send->SendPayload(payload, tag);
}

SendResult AutomationSide::Answer(uint8_t side, uint32_t client, const std::wstring& peer, const BuiltPayload& payload,
                                  const SendTag& tag)
{
    // The answer goes back on the side the message came on, whichever
    // side the send area has chosen.
    const uint8_t chosen = m_controller->SendSide();
    m_controller->SetSendSide(side);
    SendTag to = tag;
    SendResult result = SendResult::Refused;
    switch (m_controller->ActiveKind()) {
    case LinkKind::TcpServer:
        to.toOnePeer = true;
        result = m_controller->SendTo(client, peer, payload.bytes, to);
        break;
    case LinkKind::Udp:
        to.toOnePeer = m_controller->ActiveSettings().isServer == 1;
        result = to.toOnePeer ? m_controller->SendTo(0, peer, payload.bytes, to) : m_controller->Send(payload.bytes, to);
        break;
    default:
        result = m_controller->Send(payload.bytes, to);
    }
    m_controller->SetSendSide(chosen);
    return result;
}

void AutomationSide::Say(bool error, const std::wstring& text)
{
    if (m_log)
        m_log->Append(error ? TransportEventKind::Error : TransportEventKind::Status, text);
}
