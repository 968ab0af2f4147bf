#pragma once

#include "framework/Clipboard.h"
#include "framework/Window.h"
#include "session/BackgroundJob.h"
#include "session/TrafficCore.h"
#include "settings/Framing.h"
#include "settings/LogOptions.h"
#include "ui/JournalRows.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CHexView;
class CLogView;
class StatusText;

// The log side of the window: the log view and the log's hex view under
// their tabs, the counters, the capture and the refresh tick. The dialog
// routes its messages here; the log's buttons and boxes are found by id.
class LogPane {
public:
    // Once the dialog's controls exist. The view is the dialog's own control;
    // the hex view is made here.
    void Attach(Window dialog, HWND tabs, HFONT font, StatusText& status);
    // The dialog's windows are going, and with them the views.
    void Detach();

    // A line the window makes (status, errors).
    void Append(TransportEventKind kind, std::wstring text);
    // A link's event; its text and bytes move into the log. Its line names the
    // peer when the link has several.
    void Append(TransportEvent&& event, bool namesPeer);
    // Blocks from here on belong to a new run of the link, whose received
    // lines are framed so (each peer on its own). `retunable`: a choice from
    // the log's menu applies to this run at once (a TCP link; a serial
    // line's worker cuts its lines or not from its start).
    void NewSession(JournalSession info, const FramingOptions& framing = {}, bool retunable = false,
                    uint8_t side = 0)
    {
        m_core.NewSession(std::move(info), framing, retunable, side);
    }
    // What the framers hold goes to the log now (the link is being closed).
    void FlushFraming() { m_core.FlushFraming(true); }
    // Once per tick at most: the view catches up with what was logged, so a
    // burst of traffic costs one repaint of the lines in view.
    void Refresh();
    void OnTabChanged();
    // True when the command was the log's.
    bool OnCommand(int id, int code);
    // True when the menu was asked for over the log.
    bool OnContextMenu(HWND from, LPARAM where);
    // The match is selected and shown; with `fromFindBox` the focus stays in
    // the box, so that Enter there finds the next one.
    void FindNext(bool fromFindBox = false);
    // Received while Pause RX was ticked: counted as lost, and said in the
    // log once Pause RX is unticked.
    void CountPausedRx(size_t bytes) { m_core.CountPausedRx(bytes); }
    void OnPauseRxChanged(bool paused);
    // True when it was the log's.
    bool OnNotify(const NMHDR& header);
    void SetDpi(int dpi, HFONT font);
    // The link chosen in the window, which the menu's framing and Peers
    // follow: UDP has no framing, and only a server's or a listener's lines
    // name their peers.
    struct ChosenLink {
        bool framed = true;
        FramedLink framing = FramedLink::Tcp;
        bool manyPeers = false;
    };
    void SetChosenLink(const ChosenLink& link) { m_chosen = link; }
    // Records to that file from now on, in the format its name says; an ERR
    // line when it cannot be made. Stops a recording already running.
    bool StartRecording(const std::wstring& path);
    void StopRecording();
    const Recorder& Recording() const { return m_core.Recording(); }

    const LogState& State() const { return m_core.State(); }
    // A save, a search or a copy runs on its own thread.
    bool Busy() const { return m_jobKind != Job::None; }
    // Saves as Save does, to that file.
    void SaveTo(const std::wstring& path);
    TrafficCore& Core() { return m_core; }
    // The hex view's copy, handed to the clipboard when a program asks.
    PromisedClipboardText& Clipboard() { return m_clipboard; }
    CLogView* View() const { return m_view; }
    CHexView* HexView() const { return m_hexView; }
    HWND Tabs() const { return m_tabs; }

private:
    // The menu's choice of framing for the link chosen in the window.
    void ChooseFraming(FramingMode mode);
    void AddCounterTips();
    void ToggleRecording();
    void ShowRecording();
    bool HexTabShown() const;
    bool AutoScroll() const;
    void Clear();
    void Copy();
    void Save();
    void SayNotFound(const std::wstring& what);
    void UpdateCounters();
    // The status text names the block under the mouse in the hex view, and
    // gives the link's status back when the mouse leaves.
    void ShowPointed(int64_t offset);
    void CatchUpHexView(bool toEnd);
    // Long work on the journal runs on a job of its own, one at a time; its
    // button cancels it, and the status text shows how far it got.
    enum class Job { None, Save, Find, Copy, CopyToFile };
    bool StartJob(Job job, std::function<void(JobProgress&)> work);
    // True when a job ran, and the click was to cancel it.
    bool CancelJob(Job clicked);
    void CheckJob();
    void FinishJob();
    // Before the journal changes under it (Clear) or goes.
    void StopJob();
    // True, with a word in the status text, while another job runs.
    bool JobRefuses();
    void CopyHex();
    void SaveHexText(const std::wstring& path, HexModel::Range range);
    // The job writes that file: its name in the status text.
    void SaysSaving(const std::wstring& path);
    void ApplyOptions();
    void ShowMenu(LPARAM where);
    void OnMenu(int id);

    Window m_dialog;
    // Found by id once: a plain window's lookup asks the system, which under
    // Wine costs tens of microseconds, too much for each received block.
    Window m_timestampBox;
    Window m_autoScrollBox;
    HWND m_tabs = nullptr;
    HWND m_tips = nullptr;
    std::wstring m_tipText; // what the shown tooltip points at
    bool m_hexBehind = false; // the hex view has bytes its scroll bar does not show yet
    // Owned by their windows, which the dialog's destruction takes down.
    CLogView* m_view = nullptr;
    CHexView* m_hexView = nullptr;
    LogOptions m_options;
    ChosenLink m_chosen;
    // Before the journal, so that it goes after it: the journal's file must
    // be closed before its folder can be removed.
    std::unique_ptr<JournalFolder> m_journalFolder;
    TrafficCore m_core;
    LogShowOptions m_shown; // the view's, for a text recording
    JournalRows m_hexRows{m_core.Traffic(), 16};
    StatusText* m_status = nullptr;
    Job m_jobKind = Job::None;
    std::wstring m_jobPath; // what a save or a copy to a file writes
    std::wstring m_jobWhat; // the status text's words for it
    bool m_jobOk = false;
    int64_t m_jobFound = -1;
    size_t m_jobPatternSize = 0;
    HGLOBAL m_jobClipboard = nullptr; // a copy's text, made for the clipboard
    PromisedClipboardText m_clipboard;
    // Last, so that the job ends before what it reads and writes goes.
    BackgroundJob m_job;
};
