#pragma once

#include "bridge/Bridge.h"
#include "engine/ConnectionController.h"
#include "framework/Dialog.h"
#include "framework/Subclass.h"
#include "ui/AutomationSide.h"
#include "ui/ClientList.h"
#include "ui/Layout.h"
#include "ui/LogPane.h"
#include "ui/SendPane.h"
#include "ui/SerialStrip.h"
#include "settings/ConnectionStore.h"
#include "ui/StatusText.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The program's only window: connection controls, log, send composer.
class CHexView;

class CMainDlg : public Dialog {
public:
    CMainDlg();
    ~CMainDlg() override;

    bool PreTranslateMessage(MSG& msg) override;

    bool Connected() const { return m_connected; }
    const ConnectionController& Controller() const { return m_controller; }
    const LogState& Log() const { return m_logPane.State(); }
    CHexView* LogHexView() const { return m_logPane.HexView(); }
    CLogView* LogView() const { return m_logPane.View(); }
    LogPane& LogSide() { return m_logPane; }
    SendPane& SendSide() { return m_sendPane; }
    ClientList& Clients() { return m_clients; }
    AutomationSide& AutomationPart() { return m_automation; }
    SerialStrip& SerialLines() { return m_serialStrip; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void Close();
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    void OnCommand(int id, int code);
    void OnConnect();
    LRESULT OnTransportEvent(WPARAM wp, LPARAM lp);
    void OnCommunicationChanged();
    void OnModeChanged();
    void OnTimer(UINT_PTR id);
    void ApplyDpi();
    void ApplyControlFont();
    SIZE MinimumWindowSize() const;
    void OnGetMinMaxInfo(MINMAXINFO& info) const;
    void OnDpiChanged(int dpi, const RECT& suggested);
    void OnRefreshTick();
    void OnNotify(const NMHDR& header);
    void OnDestroy();
    void StartNewSession();
    void WatchNewSession();

    void PlaceWindow();
    void SaveWindowState();
    static FramingOptions FramingFor(LinkKind kind, const ConnectionSettings& settings);
    PeerChoice PeersChosen() const;

    // `byUser`: Disconnect was pressed, not a link that ended by itself.
    void SetConnectedState(bool connected, bool byUser = false);
    void UpdateWindowTitle(const ConnectionSettings* settings);
    ConnectionSettings ReadSettingsFromControls() const;
    ControlValues ReadControlValues() const;
    void ApplySettingsToControls(const ConnectionSettings& settings);
    void LayoutControls(int cx, int cy);
    void LayoutForClientSize();
    bool IsSerialChosen() const;
    void EditNetworkOptions();
    // A TLS server's certificate password, asked once per file and run;
    // false when the user gave none.
    bool CertificatePassword(const std::wstring& file, std::wstring& password);

    HWND CreateTabs(int id);
    void DeleteQueuedEvents();
    // Handles the events the link's workers posted last, in order.
    void TakeQueuedEvents();
    // That side's link has ended (side 0 when not bridged).
    void LinkEnded(uint8_t side);
    void StartLink(uint8_t side, const ConnectionSettings& settings);
    static bool ManyPeers(const ConnectionSettings& settings);
    static PeerChoice ChoiceOf(const ConnectionSettings& settings);
    void EditBridge();
    void ShowBridgeChoice();
    // What the bridge dropped and has to say, into the log.
    void BridgeNews();
    // `lost`: its connection went, to be made again; else its link ended.
    void EndBridge(uint8_t side, bool lost);
    void ForgetBridge();

    static constexpr UINT_PTR kRefreshTimerId = 2;
    static constexpr UINT kRefreshMs = 100;
    static constexpr const wchar_t* kStartingNewWindow = L"Starting a new window\u2026";
    static constexpr uint64_t kNewSessionWaitMs = 20000;

    ConnectionController m_controller;
    bool m_connected = false;
    bool m_endErrorShown = false; // the status line shows why the link ended
    bool m_manyPeers[2] = {};     // a side's link has several peers: its lines name them
    BridgeSettings m_bridgeSettings;
    std::unique_ptr<Bridge> m_bridge; // while two links are joined
    uint8_t m_listedSide = 0;         // whose peers the client list shows
    bool m_bridgeEnding = false;      // its links' last events are being taken
    StatusText m_status;
    LogPane m_logPane;
    ClientList m_clients;
    SendPane m_sendPane;
    AutomationSide m_automation;
    SerialStrip m_serialStrip;
    NetworkOptions m_network;
    std::wstring m_passwordFile; // the file `m_password` opens
    std::wstring m_password;
    HFONT m_font = nullptr;
    int m_dpi = 96;      // the window's, as the system says
    int m_shownDpi = 96; // the layout's and the text's: lower where the window is too small
    HFONT m_smallFont = nullptr;  // the controls' while the layout is made smaller
    bool m_placing = false; // PlaceWindow's own move is under way
    UINT_PTR m_refreshTimerId = 0;
    ULONGLONG m_lastRefresh = 0;
    HANDLE m_newSession = nullptr; // a copy started, until its window shows
};
