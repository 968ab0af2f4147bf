#include "ui/ClientList.h"

#include "framework/PopupMenu.h"
#include "res/resource.h"

#include <algorithm>

void ClientList::Attach(Window dialog, ConnectionController& controller)
{
    m_list = dialog.Item(IDC_CLIENT_LIST);
    m_controller = &controller;
    m_keys.Attach(m_list.Handle(), [this](UINT msg, WPARAM wp, LPARAM, LRESULT& result) {
        if (msg != WM_KEYDOWN)
            return false;
        if (wp == VK_DELETE)
            DisconnectSelected();
        else if (wp == 'A' && (GetKeyState(VK_CONTROL) & 0x8000))
            SelectAll();
        else
            return false;
        result = 0;
        return true;
    });
}

void ClientList::Reset(bool senders, size_t senderCap)
{
    m_senders = senders;
    m_roster.SetSenderCap(senderCap);
    m_lastSender = 0;
    m_roster.Clear();
    m_list.Send(LB_RESETCONTENT);
}

void ClientList::Freeze()
{
    // Each change repaints the list at once, which costs milliseconds: a
    // crowd of clients arriving or leaving is shown once per tick.
    if (m_frozen)
        return;
    m_list.Send(WM_SETREDRAW, FALSE);
    m_frozen = true;
}

void ClientList::Insert(size_t index)
{
    const std::wstring text = RosterText(m_roster[index]);
    const LRESULT at = m_list.Send(LB_INSERTSTRING, WPARAM(index), reinterpret_cast<LPARAM>(text.c_str()));
    if (at >= 0)
        m_list.Send(LB_SETITEMDATA, WPARAM(at), LPARAM(m_roster[index].id));
}

void ClientList::OnEvent(const TransportEvent& event, ClientListChange change)
{
    if (change == ClientListChange::Add) {
        Freeze();
        Insert(m_roster.Add(event.clientId, event.peer));
    } else if (change == ClientListChange::Remove) {
        const size_t index = m_roster.Find(event.clientId, event.peer);
        if (index == ClientRoster::npos)
            return;
        Freeze();
        m_roster.Remove(index);
        m_list.Send(LB_DELETESTRING, WPARAM(index));
    } else if (event.kind == TransportEventKind::Received) {
        size_t index = ClientRoster::npos;
        if (m_senders) {
            bool added = false;
            size_t forgotten = ClientRoster::npos;
            index = m_roster.Sender(event.peer, added, forgotten);
            m_lastSender = m_roster[index].id;
            if (added) {
                Freeze();
                if (forgotten != ClientRoster::npos)
                    m_list.Send(LB_DELETESTRING, WPARAM(forgotten));
                Insert(index);
            }
        } else if (event.clientId != 0) {
            index = m_roster.Find(event.clientId, event.peer);
        }
        m_roster.CountRx(index, event.data.size());
    } else if (event.kind == TransportEventKind::Sent) {
        // Counted as it left, not as it was queued.
        if (!event.sendTag.toOnePeer) {
            if (!m_senders)
                m_roster.CountTxToAll(event.data.size());
        } else {
            m_roster.CountTx(m_senders ? m_roster.FindSender(event.peer) : m_roster.Find(event.clientId, event.peer),
                             event.data.size());
        }
    }
}

const RosterEntry* ClientList::LastSender() const
{
    const size_t index = m_lastSender ? m_roster.Find(m_lastSender, L"") : ClientRoster::npos;
    return index == ClientRoster::npos ? nullptr : &m_roster[index];
}

std::vector<size_t> ClientList::Selected() const
{
    const LRESULT count = m_list.Send(LB_GETSELCOUNT);
    if (count <= 0)
        return {};
    std::vector<int> items(static_cast<size_t>(count));
    const LRESULT got = m_list.Send(LB_GETSELITEMS, WPARAM(count), reinterpret_cast<LPARAM>(items.data()));
    std::vector<size_t> chosen;
    for (LRESULT i = 0; i < got; ++i)
        if (items[size_t(i)] >= 0 && size_t(items[size_t(i)]) < m_roster.Size())
            chosen.push_back(size_t(items[size_t(i)]));
    return chosen;
}

std::vector<RosterEntry> ClientList::SelectedEntries() const
{
    std::vector<RosterEntry> entries;
    for (size_t index : Selected())
        entries.push_back(m_roster[index]);
    return entries;
}

void ClientList::SelectAll()
{
    if (m_roster.Size() > 0)
        m_list.Send(LB_SELITEMRANGEEX, 0, LPARAM(m_roster.Size() - 1));
}

void ClientList::DisconnectSelected()
{
    if (m_senders || !m_controller)
        return;
    // Their entries go when their sessions say they have left.
    std::vector<uint32_t> ids;
    for (size_t index : Selected())
        ids.push_back(m_roster[index].id);
    for (uint32_t id : ids)
        m_controller->DisconnectClient(id);
}

void ClientList::Refresh()
{
    // Under Wine an entry costs some 0.4 ms to write again: those in view
    // are written at every tick, the others a few at a time.
    constexpr size_t kOthersPerTick = 8;
    const size_t top = size_t(std::max<LRESULT>(0, m_list.Send(LB_GETTOPINDEX)));
    const LRESULT item = m_list.Send(LB_GETITEMHEIGHT, 0);
    const size_t rows = item > 0 ? size_t(m_list.ClientRect().bottom / item) + 1 : 0;
    const std::vector<size_t> changed = m_roster.TakeChanged(kOthersPerTick, top, top + rows);
    if (!changed.empty()) {
        Freeze();
        // An entry's text changes by taking it out and putting it back: the
        // user's picks, caret, anchor and scroll stay as they were.
        const LRESULT caret = m_list.Send(LB_GETCARETINDEX);
        const LRESULT anchor = m_list.Send(LB_GETANCHORINDEX);
        const LRESULT top = m_list.Send(LB_GETTOPINDEX);
        for (size_t index : changed) {
            const bool selected = m_list.Send(LB_GETSEL, WPARAM(index)) > 0;
            m_list.Send(LB_DELETESTRING, WPARAM(index));
            Insert(index);
            if (selected)
                m_list.Send(LB_SETSEL, TRUE, LPARAM(index));
        }
        if (anchor >= 0)
            m_list.Send(LB_SETANCHORINDEX, WPARAM(anchor));
        if (caret >= 0)
            m_list.Send(LB_SETCARETINDEX, WPARAM(caret), FALSE);
        if (top >= 0)
            m_list.Send(LB_SETTOPINDEX, WPARAM(top));
    }
    if (!m_frozen)
        return;
    m_frozen = false;
    m_list.Send(WM_SETREDRAW, TRUE);
    InvalidateRect(m_list.Handle(), nullptr, TRUE);
}

bool ClientList::OnContextMenu(HWND from, LPARAM where)
{
    if (from != m_list.Handle())
        return false;
    // A right click on an entry not picked picks it alone, as lists do.
    if (where != -1) {
        POINT at{short(LOWORD(where)), short(HIWORD(where))};
        ScreenToClient(m_list.Handle(), &at);
        const LRESULT hit = m_list.Send(LB_ITEMFROMPOINT, 0, MAKELPARAM(at.x, at.y));
        const int index = LOWORD(hit);
        if (HIWORD(hit) == 0 && size_t(index) < m_roster.Size() && m_list.Send(LB_GETSEL, WPARAM(index)) <= 0) {
            m_list.Send(LB_SETSEL, FALSE, -1);
            m_list.Send(LB_SETSEL, TRUE, LPARAM(index));
        }
    }
    const bool any = m_list.Send(LB_GETSELCOUNT) > 0;
    ShowPopupMenu(GetParent(m_list.Handle()), m_list.Handle(), where,
                  {{IDM_CLIENTS_SEND, L"Send to selected", false, any},
                   {IDM_CLIENTS_DISCONNECT, L"Disconnect selected", false, any && !m_senders},
                   {0},
                   {IDM_CLIENTS_SELECT_ALL, L"Select all", false, m_roster.Size() > 0}});
    return true;
}
