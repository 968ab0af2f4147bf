#pragma once

#include "engine/TransportEvent.h"

#include <string>

// What one transport event does to the window, decided without a window.
enum class ClientListChange { None, Add, Remove };

struct EventReaction {
    bool showStatus = false;   // the status line shows the event's text
    bool endConnected = false; // back to the disconnected state, caption "Ferrolink"
    ClientListChange clientList = ClientListChange::None; // with the event's peer and id
    bool log = true;
};

// `endErrorShown`: the status line shows the error that ended the link, which
// the closing status that follows it must not hide.
EventReaction ReactionTo(const TransportEvent& event, bool pauseRx, bool endErrorShown);
