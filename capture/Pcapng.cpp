#include "capture/Pcapng.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <cwctype>

namespace {

constexpr uint8_t kFin = 0x01, kSyn = 0x02, kPsh = 0x08, kAck = 0x10;
constexpr uint8_t kProtoTcp = 6, kProtoUdp = 17;
// Wireshark refuses records over 256 KiB; TCP and UDP payloads stop well
// before that, at what one IP packet can carry.
constexpr size_t kMaxTcp4 = 65495, kMaxTcp6 = 65515, kMaxUdp4 = 65507, kMaxUdp6 = 65527;
constexpr size_t kMaxSerial = 65536;

void Le16(std::vector<uint8_t>& b, uint16_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Le32(std::vector<uint8_t>& b, uint32_t v)
{
    Le16(b, uint16_t(v));
    Le16(b, uint16_t(v >> 16));
}
void Be16(std::vector<uint8_t>& b, uint16_t v)
{
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}
void Be32(std::vector<uint8_t>& b, uint32_t v)
{
    Be16(b, uint16_t(v >> 16));
    Be16(b, uint16_t(v));
}
void Pad4(std::vector<uint8_t>& b)
{
    while (b.size() % 4)
        b.push_back(0);
}

void Option(std::vector<uint8_t>& b, uint16_t code, const void* value, size_t size)
{
    Le16(b, code);
    Le16(b, uint16_t(size));
    const auto* bytes = static_cast<const uint8_t*>(value);
    b.insert(b.end(), bytes, bytes + size);
    Pad4(b);
}

void Block(std::vector<uint8_t>& out, uint32_t type, std::vector<uint8_t> body)
{
    Pad4(body);
    const uint32_t total = uint32_t(body.size() + 12);
    Le32(out, type);
    Le32(out, total);
    out.insert(out.end(), body.begin(), body.end());
    Le32(out, total);
}

// One enhanced packet block: `head` then `size` bytes of payload, written
// straight into `out` (a block's payload is copied once, not per layer).
// The direction flag: 1 inbound, 2 outbound.
void Packet(std::vector<uint8_t>& out, uint32_t interfaceId, uint64_t timeUs, const std::vector<uint8_t>& head,
            const uint8_t* payload, size_t size, bool outbound)
{
    const size_t captured = head.size() + size;
    const uint32_t total = uint32_t(12 + 20 + (captured + 3) / 4 * 4 + 8 + 4);
    if (out.capacity() < out.size() + total)
        out.reserve(std::max(out.size() + total, 2 * out.capacity()));
    Le32(out, 6);
    Le32(out, total);
    Le32(out, interfaceId);
    Le32(out, uint32_t(timeUs >> 32));
    Le32(out, uint32_t(timeUs));
    Le32(out, uint32_t(captured));
    Le32(out, uint32_t(captured));
    out.insert(out.end(), head.begin(), head.end());
    if (size)
        out.insert(out.end(), payload, payload + size);
    Pad4(out); // blocks start at multiples of 4, so the whole is padded
    const uint32_t flags = outbound ? 2 : 1;
    Option(out, 2, &flags, 4);
    Le32(out, 0); // end of options
    Le32(out, total);
}

// Adds big-endian 16-bit words; only the last run summed may be odd. A
// ones' complement sum is the same in either byte order, so the bulk is
// summed eight bytes at a time in the machine's order and swapped once.
uint32_t Sum(const uint8_t* bytes, size_t size, uint32_t sum = 0)
{
    uint64_t wide = 0;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        wide += (word & 0xFFFFFFFF) + (word >> 32);
    }
    while (wide >> 16)
        wide = (wide & 0xFFFF) + (wide >> 16);
    // The bulk's sum read back as a big-endian word (memcpy above read it in
    // this machine's order, which is little-endian on every Windows target).
    sum += uint32_t((wide & 0xFF) << 8 | wide >> 8);
    for (; i + 1 < size; i += 2)
        sum += uint32_t(bytes[i] << 8 | bytes[i + 1]);
    if (size % 2)
        sum += uint32_t(bytes[size - 1] << 8);
    return sum;
}

uint16_t Fold(uint32_t sum)
{
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return uint16_t(~sum);
}

size_t AddressSize(const Endpoint& e)
{
    return e.v6 ? 16 : 4;
}

// The IP header and the TCP or UDP header of a packet that carries
// `payload`, with both checksums.
std::vector<uint8_t> IpHead(const Endpoint& from, const Endpoint& to, uint8_t protocol, std::vector<uint8_t> transport,
                            size_t checksumAt, const uint8_t* payload, size_t size, uint16_t ipId)
{
    const size_t length = transport.size() + size;
    std::vector<uint8_t> pseudo(from.address.begin(), from.address.begin() + ptrdiff_t(AddressSize(from)));
    pseudo.insert(pseudo.end(), to.address.begin(), to.address.begin() + ptrdiff_t(AddressSize(to)));
    if (from.v6) {
        Be32(pseudo, uint32_t(length));
        pseudo.insert(pseudo.end(), {0, 0, 0, protocol});
    } else {
        pseudo.insert(pseudo.end(), {0, protocol});
        Be16(pseudo, uint16_t(length));
    }
    uint16_t sum = Fold(Sum(payload, size, Sum(transport.data(), transport.size(), Sum(pseudo.data(), pseudo.size()))));
    if (protocol == kProtoUdp && sum == 0)
        sum = 0xFFFF; // 0 would mean "none", which IPv6 does not allow
    transport[checksumAt] = uint8_t(sum >> 8);
    transport[checksumAt + 1] = uint8_t(sum);

    std::vector<uint8_t> ip;
    if (from.v6) {
        Be32(ip, 0x60000000);
        Be16(ip, uint16_t(length));
        ip.push_back(protocol);
        ip.push_back(64);
        ip.insert(ip.end(), from.address.begin(), from.address.end());
        ip.insert(ip.end(), to.address.begin(), to.address.end());
    } else {
        ip = {0x45, 0};
        Be16(ip, uint16_t(20 + length));
        Be16(ip, ipId);
        Be16(ip, 0x4000); // don't fragment
        ip.push_back(64);
        ip.push_back(protocol);
        Be16(ip, 0);
        ip.insert(ip.end(), from.address.begin(), from.address.begin() + 4);
        ip.insert(ip.end(), to.address.begin(), to.address.begin() + 4);
        const uint16_t sum4 = Fold(Sum(ip.data(), ip.size()));
        ip[10] = uint8_t(sum4 >> 8);
        ip[11] = uint8_t(sum4);
    }
    ip.insert(ip.end(), transport.begin(), transport.end());
    return ip;
}

std::vector<uint8_t> Utf8(const char* text)
{
    return std::vector<uint8_t>(text, text + std::strlen(text));
}

} // namespace

bool ParseEndpoint(const std::wstring& text, Endpoint& out)
{
    const size_t colon = text.rfind(L':');
    if (colon == std::wstring::npos || colon + 1 >= text.size())
        return false;
    std::wstring host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == L'[' && host.back() == L']')
        host = host.substr(1, host.size() - 2);
    wchar_t* end = nullptr;
    const unsigned long port = std::wcstoul(text.c_str() + colon + 1, &end, 10);
    if (port > 65535 || *end != L'\0' || !std::iswdigit(text[colon + 1]))
        return false;
    Endpoint e;
    e.port = uint16_t(port);
    if (host.find(L':') == std::wstring::npos) {
        unsigned a, b, c, d;
        wchar_t rest = 0;
        if (swscanf(host.c_str(), L"%u.%u.%u.%u%lc", &a, &b, &c, &d, &rest) != 4 || a > 255 || b > 255 || c > 255 ||
            d > 255)
            return false;
        e.address = {uint8_t(a), uint8_t(b), uint8_t(c), uint8_t(d)};
    } else {
        // Groups of hex digits with at most one "::" for the zeros.
        e.v6 = true;
        std::vector<uint16_t> head, tail;
        bool gap = false;
        size_t at = 0;
        if (host.rfind(L"::", 0) == 0) {
            gap = true;
            at = 2;
        }
        while (at < host.size()) {
            size_t end = host.find(L':', at);
            if (end == std::wstring::npos)
                end = host.size();
            const std::wstring group = host.substr(at, end - at);
            const bool hex = group.find_first_not_of(L"0123456789abcdefABCDEF") == std::wstring::npos;
            if (group.empty() || group.size() > 4 || !hex)
                return false;
            (gap ? tail : head).push_back(uint16_t(std::wcstoul(group.c_str(), nullptr, 16)));
            at = end + 1;
            if (end + 1 < host.size() && host[end + 1] == L':') {
                if (gap)
                    return false;
                gap = true;
                at = end + 2;
            }
        }
        // "::" stands for at least one group of zeros.
        if (head.size() + tail.size() > (gap ? 7u : 8u) || (!gap && head.size() != 8))
            return false;
        std::vector<uint16_t> groups = head;
        groups.resize(8 - tail.size(), 0);
        groups.insert(groups.end(), tail.begin(), tail.end());
        for (size_t i = 0; i < 8; ++i) {
            e.address[2 * i] = uint8_t(groups[i] >> 8);
            e.address[2 * i + 1] = uint8_t(groups[i]);
        }
    }
    out = e;
    return true;
}

std::vector<uint8_t> PcapngMaker::FileHeader() const
{
    std::vector<uint8_t> out, shb;
    Le32(shb, 0x1A2B3C4D);
    Le16(shb, 1);
    Le16(shb, 0);
    Le32(shb, 0xFFFFFFFF); // section length unknown
    Le32(shb, 0xFFFFFFFF);
    const std::vector<uint8_t> application = Utf8("Ferrolink");
    Option(shb, 4, application.data(), application.size());
    Le32(shb, 0);
    Block(out, 0x0A0D0D0A, std::move(shb));

    const uint8_t microseconds = 6;
    for (const auto& [link, name] : {std::pair<uint16_t, const char*>{kLinkRawIp, "network"},
                                     std::pair<uint16_t, const char*>{kLinkRtacSerial, "serial"}}) {
        std::vector<uint8_t> idb;
        Le16(idb, link);
        Le16(idb, 0);
        Le32(idb, 0); // no snap length
        const std::vector<uint8_t> text = Utf8(name);
        Option(idb, 2, text.data(), text.size());
        Option(idb, 9, &microseconds, 1);
        Le32(idb, 0);
        Block(out, 1, std::move(idb));
    }
    return out;
}

void PcapngMaker::Segment(std::vector<uint8_t>& out, Tcp& tcp, int from, uint8_t flags, const uint8_t* data,
                          size_t size, uint64_t timeUs)
{
    const Endpoint& source = from == 0 ? tcp.client : tcp.server;
    const Endpoint& target = from == 0 ? tcp.server : tcp.client;
    std::vector<uint8_t> segment;
    Be16(segment, source.port);
    Be16(segment, target.port);
    Be32(segment, tcp.next[from]);
    Be32(segment, flags & kAck ? tcp.next[1 - from] : 0);
    segment.push_back(5 << 4);
    segment.push_back(flags);
    Be16(segment, 65535);
    Be16(segment, 0);
    Be16(segment, 0);
    const bool outbound = (from == 0) == tcp.weConnected;
    Packet(out, 0, timeUs, IpHead(source, target, kProtoTcp, std::move(segment), 16, data, size, m_ipId++), data, size,
           outbound);
    tcp.next[from] += uint32_t(size) + ((flags & (kSyn | kFin)) ? 1 : 0);
}

void PcapngMaker::TcpOpen(std::vector<uint8_t>& out, uint64_t key, const Endpoint& local, const Endpoint& remote,
                          bool weConnected, uint64_t timeUs)
{
    Tcp tcp;
    tcp.client = weConnected ? local : remote;
    tcp.server = weConnected ? remote : local;
    tcp.weConnected = weConnected;
    Segment(out, tcp, 0, kSyn, nullptr, 0, timeUs);
    Segment(out, tcp, 1, kSyn | kAck, nullptr, 0, timeUs);
    Segment(out, tcp, 0, kAck, nullptr, 0, timeUs);
    m_tcp[key] = tcp;
}

void PcapngMaker::TcpData(std::vector<uint8_t>& out, uint64_t key, bool outbound, const uint8_t* data, size_t size,
                          uint64_t timeUs)
{
    const auto found = m_tcp.find(key);
    if (found == m_tcp.end())
        return;
    Tcp& tcp = found->second;
    const int from = outbound == tcp.weConnected ? 0 : 1;
    const size_t most = tcp.client.v6 ? kMaxTcp6 : kMaxTcp4;
    for (size_t at = 0; at < size; at += most)
        Segment(out, tcp, from, kPsh | kAck, data + at, std::min(most, size - at), timeUs);
}

void PcapngMaker::TcpClose(std::vector<uint8_t>& out, uint64_t key, uint64_t timeUs)
{
    const auto found = m_tcp.find(key);
    if (found == m_tcp.end())
        return;
    Tcp& tcp = found->second;
    Segment(out, tcp, 0, kFin | kAck, nullptr, 0, timeUs);
    Segment(out, tcp, 1, kFin | kAck, nullptr, 0, timeUs);
    Segment(out, tcp, 0, kAck, nullptr, 0, timeUs);
    m_tcp.erase(found);
}

void PcapngMaker::Udp(std::vector<uint8_t>& out, const Endpoint& local, const Endpoint& remote, bool outbound,
                      const uint8_t* data, size_t size, uint64_t timeUs)
{
    const Endpoint& source = outbound ? local : remote;
    const Endpoint& target = outbound ? remote : local;
    const size_t most = local.v6 ? kMaxUdp6 : kMaxUdp4;
    size_t at = 0;
    do {
        const size_t part = std::min(most, size - at);
        std::vector<uint8_t> datagram;
        Be16(datagram, source.port);
        Be16(datagram, target.port);
        Be16(datagram, uint16_t(8 + part));
        Be16(datagram, 0);
        Packet(out, 0, timeUs, IpHead(source, target, kProtoUdp, std::move(datagram), 6, data + at, part, m_ipId++),
               data + at, part, outbound);
        at += part;
    } while (at < size);
}

namespace {

std::vector<uint8_t> SerialHeader(uint64_t timeUs, uint8_t event, uint8_t lines)
{
    std::vector<uint8_t> header;
    Be32(header, uint32_t(timeUs / 1000000));
    Be32(header, uint32_t(timeUs % 1000000));
    header.push_back(event);
    header.push_back(lines);
    Be16(header, 0);
    return header;
}

} // namespace

void PcapngMaker::Serial(std::vector<uint8_t>& out, bool outbound, const uint8_t* data, size_t size, uint64_t timeUs,
                         uint8_t lines)
{
    const std::vector<uint8_t> header = SerialHeader(timeUs, outbound ? 0x01 : 0x02, lines); // data TX / RX start
    for (size_t at = 0; at < size; at += kMaxSerial)
        Packet(out, 1, timeUs, header, data + at, std::min(kMaxSerial, size - at), outbound);
}

void PcapngMaker::Serial(std::vector<uint8_t>& out, SerialEvent event, bool outbound, uint8_t lines, uint64_t timeUs)
{
    Packet(out, 1, timeUs, SerialHeader(timeUs, uint8_t(event), lines), nullptr, 0, outbound);
}
