#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// One peer a server or a listener talks to.
struct RosterEntry {
    uint32_t id = 0; // the link's client id; a listener's senders get the roster's own
    std::wstring peer;
    uint64_t rx = 0, tx = 0;
    uint64_t heard = 0; // a sender's: when its last datagram came, by the roster's count
};

// What the list shows for it: its peer, then its byte counts once it has any.
std::wstring RosterText(const RosterEntry& entry);

// The peers of a TCP server (by their client ids) or of a UDP listener (by
// the senders its datagrams name), in the order they came, with what each
// sent and was sent. Its entries are the client list's, index for index.
class ClientRoster {
public:
    static constexpr size_t npos = size_t(-1);

    // Appended; its index.
    size_t Add(uint32_t id, std::wstring peer);
    // A datagram's sender: its index, and whether it was new. Past the cap a
    // new one takes the place of the sender silent longest, which is
    // removed (`forgotten`: its index before the new one was added; npos
    // when none was).
    size_t Sender(const std::wstring& peer, bool& added, size_t& forgotten);
    // A listed sender by its peer text; npos when it is not.
    size_t FindSender(const std::wstring& peer) const;
    void SetSenderCap(size_t cap) { m_senderCap = cap ? cap : 1; }
    // By id; an id of 0 finds the first entry of that peer.
    size_t Find(uint32_t id, const std::wstring& peer) const;
    void Remove(size_t index);
    void Clear();

    void CountRx(size_t index, uint64_t bytes) { Count(index, bytes, &RosterEntry::rx); }
    void CountTx(size_t index, uint64_t bytes) { Count(index, bytes, &RosterEntry::tx); }
    void CountTxToAll(uint64_t bytes);
    // The entries whose text changed since the last call, each once: all
    // those from `shownFrom` to before `shownTo`, and at most `others` more,
    // those that changed first; the rest are given next time.
    std::vector<size_t> TakeChanged(size_t others = SIZE_MAX, size_t shownFrom = 0, size_t shownTo = 0);

    size_t Size() const { return m_entries.size(); }
    const RosterEntry& operator[](size_t index) const { return m_entries[index]; }

private:
    void Count(size_t index, uint64_t bytes, uint64_t RosterEntry::*counter);
    void Reindex(size_t from);

    std::vector<RosterEntry> m_entries;
    std::vector<bool> m_changed;
    std::vector<size_t> m_changedList;
    std::unordered_map<uint32_t, size_t> m_byId;
    std::unordered_map<std::wstring, uint32_t> m_senders;
    uint32_t m_nextSenderId = 0x80000000u; // clear of a server's own ids
    uint64_t m_datagrams = 0;
    size_t m_senderCap = 4096;
};
