#pragma once

#include "engine/ConnectionController.h"
#include "framework/Subclass.h"
#include "framework/Window.h"
#include "ui/ClientRoster.h"
#include "ui/EventRules.h"

#include <string>
#include <vector>

// The list of a TCP server's clients or of a UDP listener's senders: who
// is there, what each sent and was sent, and which the user picked. Its
// menu and the Delete key drop the picked clients.
class ClientList {
public:
    void Attach(Window dialog, ConnectionController& controller);
    // A new link. A listener's senders join as their datagrams come.
    // `senderCap`: a listener lists so many senders at most.
    void Reset(bool senders, size_t senderCap = 4096);
    bool Senders() const { return m_senders; }

    // The list's part of a link's event.
    void OnEvent(const TransportEvent& event, ClientListChange change);
    // The sender of a listener's newest datagram; null before any came.
    const RosterEntry* LastSender() const;

    // Indexes into the roster, in list order.
    std::vector<size_t> Selected() const;
    // Copies: the entries may leave while they are sent to.
    std::vector<RosterEntry> SelectedEntries() const;
    const ClientRoster& Roster() const { return m_roster; }
    void SelectAll();
    // Closes the connection of each selected client of a server.
    void DisconnectSelected();

    // Once per tick: changed entries and the list are repainted.
    void Refresh();
    bool OnContextMenu(HWND from, LPARAM where);

private:
    void Freeze();
    void Insert(size_t index);

    Window m_list;
    ConnectionController* m_controller = nullptr;
    Subclass m_keys;
    ClientRoster m_roster;
    bool m_senders = false;
    uint32_t m_lastSender = 0; // its roster id
    bool m_frozen = false; // changed since the last tick, not yet repainted
};
