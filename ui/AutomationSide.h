#pragma once

#include "automation/Automation.h"
#include "framework/Waker.h"
#include "framework/Window.h"

#include <memory>
#include <string>

class CAutomationWnd;
class ClientList;
class ConnectionController;
class LogPane;
class SendPane;

// The automation in the window: the library as stored, its window, the
// responder and sequences fed by the traffic core, their sends through the
// send area (or to the peer a message came from), their moments kept by a
// waker.
class AutomationSide : private AutomationPort {
public:
    static constexpr UINT WM_AUTOMATION_DUE = WM_APP + 0x66;

    AutomationSide();
    ~AutomationSide() override;
    AutomationSide(const AutomationSide&) = delete;
    AutomationSide& operator=(const AutomationSide&) = delete;

    void Attach(Window dialog, ConnectionController& controller, LogPane& log, SendPane& send, ClientList& clients);
    // The window and the waker go, before the dialog does.
    void Detach();

    // The waker's message: what is due is done.
    void OnDue();
    // A link's event was logged: what it let the automation do is done, and
    // received bytes that framing holds get their moment woken for.
    void AfterEvent(bool received);
    // The link has ended: delayed replies are dropped, a sequence stops.
    void LinkEnded();
    // F1 to F12 send the command they are the key of; the window's own keys
    // (Tab, Enter) when its window is active. True when taken.
    bool PreTranslateMessage(MSG& msg);
    void ShowWindow();
    void Refresh();
    CAutomationWnd* WindowShown() const { return m_window.get(); }

    const Library& Lib() const { return m_automation.Lib(); }
    // Saved, and the responder made anew; `reload`: the window's lists too.
    void ChangeLibrary(Library library, bool reload = true);
    bool SendCommand(size_t index);
    void RunSequence(size_t index);
    void StopSequence();
    bool ResponderOn() const { return m_automation.ResponderOn(); }
    void SetResponderOn(bool on);
    void ResetCounts() { m_automation.ResetCounts(); }
    uint64_t RuleMatches(size_t index) const;
    std::wstring SequenceState() const;
    // An empty text when done, else why not: a file that is not taken
    // leaves the library as it was.
    std::wstring Import(const std::wstring& path);
    std::wstring Export(const std::wstring& path) const;

    Automation& Model() { return m_automation; }

private:
    SendResult Send(const BuiltPayload& payload, const SendTag& tag) override;
    SendResult Answer(uint8_t side, uint32_t client, const std::wstring& peer, const BuiltPayload& payload,
                      const SendTag& tag) override;
    void Say(bool error, const std::wstring& text) override;
    void Pump();

    Window m_dialog;
    ConnectionController* m_controller = nullptr;
    LogPane* m_log = nullptr;
    SendPane* m_send = nullptr;
    ClientList* m_clients = nullptr;
    Automation m_automation;
    Waker m_waker;
    std::unique_ptr<CAutomationWnd> m_window;
    bool m_pumpDue = false; // a message was seen since the last Pump
};
