#include "engine/NetworkOptions.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include "engine/SocketUtil.h"
#include "text/Fields.h"

#include <memory>

const wchar_t* const kAllAddressesText = L"All addresses";

std::vector<AdapterAddress> MachineAddresses()
{
    ULONG size = 16 * 1024;
    std::unique_ptr<uint8_t[]> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    // The list can grow between the two calls: try a few times.
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer = std::make_unique<uint8_t[]>(size);
        result = GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                      nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
    }
    std::vector<AdapterAddress> v4, v6;
    if (result != NO_ERROR)
        return v4;
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()); a; a = a->Next) {
        if (a->OperStatus != IfOperStatusUp)
            continue;
        for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
            const sockaddr* address = u->Address.lpSockaddr;
            if (!address || (address->sa_family != AF_INET && address->sa_family != AF_INET6))
                continue;
            wchar_t host[INET6_ADDRSTRLEN + 16] = {};
            if (GetNameInfoW(address, u->Address.iSockaddrLength, host, DWORD(std::size(host)), nullptr, 0,
                             NI_NUMERICHOST) != 0)
                continue;
            AdapterAddress entry{host, a->FriendlyName ? a->FriendlyName : L"", address->sa_family == AF_INET6};
            (entry.v6 ? v6 : v4).push_back(std::move(entry));
        }
    }
    v4.insert(v4.end(), v6.begin(), v6.end());
    return v4;
}

std::wstring AddressChoiceText(const AdapterAddress& address)
{
    return address.adapter.empty() ? address.address : address.address + L" (" + address.adapter + L")";
}

namespace {

// A whole number from 0 to `most`, blanks around it allowed.
bool ReadNumber(const std::wstring& text, uint32_t most, uint32_t& value)
{
    return ParseWholeNumber(TrimBlanks(text), most, value);
}

} // namespace

std::wstring AddressOfChoice(const std::wstring& text)
{
    const std::wstring t = TrimBlanks(text);
    if (t == kAllAddressesText)
        return {};
    const size_t open = t.find(L" (");
    return open == std::wstring::npos ? t : t.substr(0, open);
}

NetworkOptionTexts TextsFor(const NetworkOptions& o)
{
    NetworkOptionTexts t;
    t.localAddress = o.localIp.empty() ? kAllAddressesText : o.localIp;
    t.localPort = o.localPort ? std::to_wstring(o.localPort) : L"";
    t.multicastGroup = o.multicastGroup;
    t.multicastTtl = std::to_wstring(o.multicastTtl);
    t.multicastLoopback = o.multicastLoopback;
    t.acceptAnyCertificate = o.acceptAnyCertificate;
    t.certificateFile = o.certificateFile;
    return t;
}

std::wstring ReadNetworkOptions(const NetworkOptionTexts& t, NetworkOptions& options)
{
    NetworkOptions o;
    o.localIp = AddressOfChoice(t.localAddress);
    sockaddr_storage address{};
    if (!o.localIp.empty() && !LocalAddress(o.localIp, 0, address))
        return L"The local address must be a numeric IPv4 or IPv6 address, not \"" + o.localIp + L"\".";
    uint32_t number = 0;
    if (!TrimBlanks(t.localPort).empty() && !ReadNumber(t.localPort, 65535, number))
        return L"The local port must be a whole number from 0 to 65535, not \"" + t.localPort + L"\".";
    o.localPort = uint16_t(number);
    o.multicastGroup = TrimBlanks(t.multicastGroup);
    in_addr group{};
    if (!o.multicastGroup.empty() &&
        (InetPtonW(AF_INET, o.multicastGroup.c_str(), &group) != 1 || !IN_MULTICAST(ntohl(group.s_addr))))
        return L"The multicast group must be an IPv4 address from 224.0.0.0 to 239.255.255.255, not \"" +
               o.multicastGroup + L"\".";
    number = 1;
    if (!TrimBlanks(t.multicastTtl).empty() && !ReadNumber(t.multicastTtl, 255, number))
        return L"The TTL must be a whole number from 0 to 255, not \"" + t.multicastTtl + L"\".";
    o.multicastTtl = uint8_t(number);
    o.multicastLoopback = t.multicastLoopback;
    o.acceptAnyCertificate = t.acceptAnyCertificate;
    o.certificateFile = TrimBlanks(t.certificateFile);
    options = o;
    return {};
}
