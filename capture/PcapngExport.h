#pragma once

#include "capture/Pcapng.h"

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

class Journal;
struct JobProgress;
struct JournalRecord;
struct JournalSession;

// Journal records to pcapng bytes one at a time, for an export after the
// fact and for recording while the link runs alike. TCP streams open at a
// client's arrival (or a client link's first block) and close at its
// leaving or at Finish; what a server sends to all goes to each stream open
// then.
class PcapngFromJournal {
public:
    std::vector<uint8_t> Start() const { return m_maker.FileHeader(); }
    // Appends the record's packets to `out`. `data` holds the record's
    // bytes; `session` may be null (then nothing).
    void Take(std::vector<uint8_t>& out, const JournalRecord& record, const JournalSession* session,
              const std::wstring& peer, const uint8_t* data);
    void Finish(std::vector<uint8_t>& out);

private:
    PcapngMaker m_maker;
    std::set<std::pair<uint32_t, uint32_t>> m_open; // session, client
    uint64_t m_lastTime = 0;
};

// The whole journal as a pcapng file. False when it cannot be written.
// Cancelled, it is false and the file goes; the bytes the journal no longer
// keeps are left out (their blocks with them) and counted.
bool WritePcapng(const std::wstring& path, const Journal& journal, JobProgress* progress = nullptr);
