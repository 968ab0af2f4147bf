#include "ui/LogMenu.h"

#include "res/resource.h"

std::vector<MenuItem> LogMenuItems(const LogMenuState& state)
{
    return {
        {IDM_LOG_COPY, L"&Copy\tCtrl+C", false, state.hasSelection},
        {IDM_LOG_SELECT_ALL, L"Select &All\tCtrl+A", false, true},
        {IDM_LOG_FIND_NEXT, L"&Find Next", false, state.canFind},
        {IDM_LOG_CLEAR, L"C&lear", false, true},
        {IDM_LOG_RECORD, state.recording ? L"Stop &Recording" : L"&Record\u2026", false, true},
        {},
        {IDM_LOG_MILLISECONDS, L"&Milliseconds", state.milliseconds, true},
        {IDM_LOG_SINCE_PREVIOUS, L"&Time Since Previous Line", state.sincePrevious, true},
        {IDM_LOG_PEERS, L"&Peers", state.peers, state.peersApply},
        {IDM_LOG_RECEIVED_HEX, L"Received as &Hex", state.receivedAsHex, true},
        {IDM_LOG_SENT_HEX, L"S&ent as Hex", state.sentAsHex, true},
        {IDM_LOG_AUTOSCROLL, L"Auto-&scroll", state.autoScroll, true},
        {},
        {L"Framin&g", state.framing >= 0,
         {{IDM_LOG_FRAMING_FIRST, L"As &received", state.framing == 0},
          {IDM_LOG_FRAMING_FIRST + 1, L"&Lines", state.framing == 1},
          {IDM_LOG_FRAMING_FIRST + 2, L"&Delimiter\u2026", state.framing == 2},
          {IDM_LOG_FRAMING_FIRST + 3, L"&Idle gap\u2026", state.framing == 3},
          {IDM_LOG_FRAMING_FIRST + 4, L"Fixed l&ength\u2026", state.framing == 4}}},
    };
}
