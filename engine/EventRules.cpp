#include "engine/EventRules.h"

bool TellsOfDisconnection(const std::wstring& statusText)
{
    return statusText.find(L"disconnected") != std::wstring::npos ||
           statusText.find(L"stopped") != std::wstring::npos;
}

EventReaction ReactionTo(TransportEventKind kind, const std::wstring& text, bool pauseRx)
{
    EventReaction reaction;
    switch (kind) {
    case TransportEventKind::Status:
        reaction.showStatus = true;
        reaction.endConnected = TellsOfDisconnection(text);
        break;
    case TransportEventKind::Error:
        reaction.endConnected = true;
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
