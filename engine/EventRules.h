#pragma once

#include "engine/TransportEvent.h"

#include <string>

// What one transport event does to the window, decided without a window.
enum class ClientListChange { None, Add, Remove };

struct EventReaction {
    bool showStatus = false;   // the status line shows the event's text
    bool endConnected = false; // back to the disconnected state, caption "Ferrolink"
    ClientListChange clientList = ClientListChange::None; // with the event's peer
    bool log = true;
};

// Case-sensitive on purpose: "Disconnected" from the window itself is not
// a transport telling of its end.
bool TellsOfDisconnection(const std::wstring& statusText);

EventReaction ReactionTo(TransportEventKind kind, const std::wstring& text, bool pauseRx);
