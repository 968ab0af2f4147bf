#include "ui/EventRules.h"

EventReaction ReactionTo(const TransportEvent& event, bool pauseRx, bool endErrorShown)
{
    EventReaction reaction;
    switch (event.kind) {
    case TransportEventKind::Status:
        // A serial port's lines have lamps of their own.
        reaction.showStatus =
            !(event.linkEnded && endErrorShown) && event.serial == SerialSignal::None && !event.logOnly;
        reaction.endConnected = event.linkEnded;
        break;
    case TransportEventKind::Error:
        // An error that leaves the link open is only logged.
        reaction.showStatus = event.linkEnded;
        reaction.endConnected = event.linkEnded;
        break;
    case TransportEventKind::ClientAdded:
        reaction.clientList = ClientListChange::Add;
        break;
    case TransportEventKind::ClientRemoved:
        reaction.clientList = ClientListChange::Remove;
        break;
    case TransportEventKind::Received:
        reaction.log = !pauseRx;
        break;
    case TransportEventKind::Sent:
        break;
    }
    return reaction;
}
