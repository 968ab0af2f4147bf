#pragma once

#include "automation/Library.h"
#include "engine/ConnectionController.h"
#include "framework/Subclass.h"
#include "framework/Window.h"
#include "settings/History.h"
#include "settings/SendOptions.h"
#include "ui/ClientRoster.h"
#include "ui/FileFeed.h"
#include "ui/SendComposer.h"

#include <cstdint>
#include <string>
#include <vector>

class CHexView;
class ClientList;
class LogPane;
class StatusText;

// Who a server's or listener's sends go to, as the choice beside Send says.
enum class PeerChoice { None, Clients, Senders };

// The send side of the window: the ASCII and Hex faces under their tabs,
// the history, the payload's options, Repeat and Send File. The dialog
// routes its messages here; the send controls are found by id.
class SendPane {
public:
    // Once the dialog's controls exist; the hex editor is made here.
    void Attach(Window dialog, HWND tabs, ConnectionController& controller, LogPane& log, ClientList& clients,
                StatusText& status);
    // The dialog's windows are going, and with them the hex editor.
    void Detach();

    // The link was opened or has ended (`byUser`: closed by Disconnect):
    // Repeat and a file being sent stop with it.
    void SetLinkOpen(bool open, bool byUser = false);
    // The choice beside Send is offered for a server's clients or a
    // listener's senders, and hidden otherwise.
    void SetPeerChoice(PeerChoice choice);
    // A bridge: the choice names the side too ("to A", "to B", and "to B:
    // selected" for the side whose peers the list shows), and the
    // controller's send side follows it. Not bridged: side A alone.
    void SetBridge(bool bridged, uint8_t listedSide = 0, PeerChoice listed = PeerChoice::None);

    // `toSelected`: to the clients picked in the list, whatever the choice.
    // False when it failed (said in the log); nothing to send is no failure.
    bool Send(bool toSelected = false);
    // What the automation sends, to the peers Send would reach now.
    SendResult SendPayload(const BuiltPayload& payload, const SendTag& tag);
    // A command of the library, as Send sends the send area's payload: to
    // the same peers, into the history, refused while a file is sent.
    bool SendCommand(const Command& command);
    // Streams the file to the link from now on; see StartFile.
    void SendFile(const std::wstring& path);
    // True when the command was the send side's.
    bool OnCommand(int id, int code);
    bool OnNotify(const NMHDR& header);
    bool OnTimer(UINT_PTR id);
    // Enter and Escape in the send box.
    bool PreTranslateMessage(const MSG& msg);
    // Enter in the send box when the dialog takes it for its default button.
    bool OnOK(HWND focus);
    void SetDpi(int dpi);
    // At close: the options without an event of their own, and the history.
    void SaveState();

    HWND Tabs() const { return m_tabs; }
    CHexView* HexView() const { return m_hexView; }
    bool SendingFile() const { return m_file.IsOpen(); }

    static constexpr UINT_PTR kRepeatTimerId = 1;
    static constexpr UINT_PTR kFileTimerId = 3;
    // A file goes out in chunks of this size; over UDP one datagram each,
    // which fits an Ethernet frame.
    static constexpr size_t kFileChunk = 8192;
    static constexpr size_t kFileDatagram = 1472;

private:
    Window Item(int id) const { return m_dialog.Item(id); }
    bool HexFace() const;
    void OnTabChanged();
    SendOptions ReadOptions() const;
    void ApplyOptions(const SendOptions& options);
    // Where a payload goes: everyone the link sends to, or the peers listed
    // (picked ones, or a listener's last sender). `problem`: nowhere.
    struct SendTargets {
        bool everyone = true;
        std::vector<RosterEntry> peers;
        std::wstring problem;
    };
    bool ChoiceIsSelected() const;
    SendTargets TargetsNow(bool toSelected) const;
    // Hands the payload to the link (to each peer when they are listed),
    // whose TX line comes once it has left; false, with an ERR line, when
    // it reached nobody.
    bool Deliver(const std::vector<uint8_t>& payload, const SendTargets& targets, bool asHex,
                 ChecksumSpan checksum = {});
    SendResult DeliverTagged(const std::vector<uint8_t>& payload, const SendTargets& targets, SendTag tag);
    // The link refused a send because too much waits to be written.
    void SayBackedUp();
    std::wstring SendFailedText() const;
    void AddToHistory(const std::wstring& entry);
    void OnHistoryChosen();
    void OnRepeat();
    // With no error, the failure was said already: a plain line says Repeat stopped.
    void StopRepeat(const std::wstring& error);
    void ShowEditMenu(LPARAM where);
    void OnEditMenu(int id);
    void StartFile();
    void FeedFile();
    std::wstring FileProgressWords() const;
    void EndFile(const std::wstring& line, bool error);

    Window m_dialog;
    HWND m_tabs = nullptr;
    // Owned by its window, which the dialog's destruction takes down.
    CHexView* m_hexView = nullptr;
    Subclass m_edit;
    ConnectionController* m_controller = nullptr;
    LogPane* m_log = nullptr;
    ClientList* m_clients = nullptr;
    bool m_linkOpen = false;
    PeerChoice m_peerChoice = PeerChoice::None;
    // What each item of the choice stands for while bridged.
    struct SideItem {
        uint8_t side;
        bool selected;
    };
    std::vector<SideItem> m_sideItems;
    uint8_t m_listedSide = 0; // whose peers the list shows
    // The choice to come back to after a bridge.
    PeerChoice m_peerChoiceUnbridged = PeerChoice::None;
    bool m_toSelectedUnbridged = false;
    void FollowSideChoice();
    UINT_PTR m_repeatTimer = 0;
    bool m_inRepeatTick = false;
    bool m_backedUp = false;     // the last send was refused for a full queue
    bool m_repeatSkipSaid = false; // until a send goes again
    HistoryList m_history; // what the history box shows, newest first
    FileFeed m_file;
    SendTargets m_fileTargets;
    size_t m_fileBacklog = 0; // the file waits while the link has this much queued
    StatusText* m_status = nullptr;
};
