#include "ui/ClientRoster.h"

#include "session/LogState.h"

#include <utility>

std::wstring RosterText(const RosterEntry& entry)
{
    if (entry.rx == 0 && entry.tx == 0)
        return entry.peer;
    return entry.peer + L"    RX: " + ShortCount(entry.rx) + L"  TX: " + ShortCount(entry.tx);
}

size_t ClientRoster::Add(uint32_t id, std::wstring peer)
{
    const size_t index = m_entries.size();
    m_entries.push_back(RosterEntry{id, std::move(peer)});
    m_changed.push_back(false);
    if (id != 0)
        m_byId[id] = index;
    return index;
}

size_t ClientRoster::Sender(const std::wstring& peer, bool& added, size_t& forgotten)
{
    forgotten = npos;
    const auto known = m_senders.find(peer);
    added = known == m_senders.end();
    if (!added) {
        const size_t index = Find(known->second, peer);
        if (index != npos)
            m_entries[index].heard = ++m_datagrams;
        return index;
    }
    if (m_senders.size() >= m_senderCap) {
        size_t silent = npos;
        for (size_t i = 0; i < m_entries.size(); ++i)
            if (m_senders.count(m_entries[i].peer) && (silent == npos || m_entries[i].heard < m_entries[silent].heard))
                silent = i;
        if (silent != npos) {
            Remove(silent);
            forgotten = silent;
        }
    }
    const uint32_t id = m_nextSenderId++;
    m_senders.emplace(peer, id);
    const size_t index = Add(id, peer);
    m_entries[index].heard = ++m_datagrams;
    return index;
}

size_t ClientRoster::FindSender(const std::wstring& peer) const
{
    const auto known = m_senders.find(peer);
    return known == m_senders.end() ? npos : Find(known->second, peer);
}

size_t ClientRoster::Find(uint32_t id, const std::wstring& peer) const
{
    if (id != 0) {
        const auto found = m_byId.find(id);
        return found == m_byId.end() ? npos : found->second;
    }
    for (size_t i = 0; i < m_entries.size(); ++i)
        if (m_entries[i].peer == peer)
            return i;
    return npos;
}

void ClientRoster::Remove(size_t index)
{
    if (index >= m_entries.size())
        return;
    m_byId.erase(m_entries[index].id);
    m_senders.erase(m_entries[index].peer);
    m_entries.erase(m_entries.begin() + ptrdiff_t(index));
    m_changed.erase(m_changed.begin() + ptrdiff_t(index));
    // The changed list holds indexes: the ones behind shift down.
    std::vector<size_t> kept;
    for (size_t changed : m_changedList)
        if (changed != index)
            kept.push_back(changed > index ? changed - 1 : changed);
    m_changedList = std::move(kept);
    Reindex(index);
}

void ClientRoster::Clear()
{
    m_entries.clear();
    m_changed.clear();
    m_changedList.clear();
    m_byId.clear();
    m_senders.clear();
}

void ClientRoster::CountTxToAll(uint64_t bytes)
{
    for (size_t i = 0; i < m_entries.size(); ++i)
        CountTx(i, bytes);
}

std::vector<size_t> ClientRoster::TakeChanged(size_t others, size_t shownFrom, size_t shownTo)
{
    std::vector<size_t> taken, left;
    for (size_t index : m_changedList) {
        if ((index >= shownFrom && index < shownTo) || others > 0) {
            if (!(index >= shownFrom && index < shownTo))
                --others;
            m_changed[index] = false;
            taken.push_back(index);
        } else {
            left.push_back(index);
        }
    }
    m_changedList = std::move(left);
    return taken;
}

void ClientRoster::Count(size_t index, uint64_t bytes, uint64_t RosterEntry::*counter)
{
    if (index >= m_entries.size() || bytes == 0)
        return;
    m_entries[index].*counter += bytes;
    if (!m_changed[index]) {
        m_changed[index] = true;
        m_changedList.push_back(index);
    }
}

void ClientRoster::Reindex(size_t from)
{
    for (size_t i = from; i < m_entries.size(); ++i)
        if (m_entries[i].id != 0)
            m_byId[m_entries[i].id] = i;
}
