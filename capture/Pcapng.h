#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// An address and port, as a peer text names them ("127.0.0.1:5000",
// "::1:5000" or "[::1]:5000").
struct Endpoint {
    std::array<uint8_t, 16> address{};
    bool v6 = false;
    uint16_t port = 0;
};
bool ParseEndpoint(const std::wstring& text, Endpoint& out);

// Link traffic as pcapng blocks for Wireshark: TCP and UDP payloads inside
// made-up IPv4/IPv6 and TCP/UDP headers (a TCP session gets a handshake,
// sequence numbers that add up and a FIN, so that Wireshark follows the
// stream and dissects what it carries), serial blocks with the RTAC serial
// header. Every packet carries its direction: outbound is what this end
// sent. Each call appends its blocks to `out`, so that a writer can reuse
// one buffer instead of fresh memory per block.
class PcapngMaker {
public:
    static constexpr uint16_t kLinkRawIp = 101;
    static constexpr uint16_t kLinkRtacSerial = 250;

    // The section header and the two interfaces: 0 raw IP, 1 serial.
    std::vector<uint8_t> FileHeader() const;

    // A TCP connection under `key`; `weConnected` when this end is the client.
    void TcpOpen(std::vector<uint8_t>& out, uint64_t key, const Endpoint& local, const Endpoint& remote,
                 bool weConnected, uint64_t timeUs);
    void TcpData(std::vector<uint8_t>& out, uint64_t key, bool outbound, const uint8_t* data, size_t size,
                 uint64_t timeUs);
    void TcpClose(std::vector<uint8_t>& out, uint64_t key, uint64_t timeUs);
    bool HasTcp(uint64_t key) const { return m_tcp.count(key) != 0; }

    void Udp(std::vector<uint8_t>& out, const Endpoint& local, const Endpoint& remote, bool outbound,
             const uint8_t* data, size_t size, uint64_t timeUs);
    // `lines`: the control lines then, as the serial header carries them.
    void Serial(std::vector<uint8_t>& out, bool outbound, const uint8_t* data, size_t size, uint64_t timeUs,
                uint8_t lines = 0);
    // A serial header alone: the lines changed, or a Break went or came.
    enum class SerialEvent : uint8_t { StatusChange = 0x00, Break = 0x09 };
    void Serial(std::vector<uint8_t>& out, SerialEvent event, bool outbound, uint8_t lines, uint64_t timeUs);

private:
    struct Tcp {
        Endpoint client, server;
        bool weConnected = true;
        uint32_t next[2] = {1000, 5000}; // the next sequence number of client and server
    };
    void Segment(std::vector<uint8_t>& out, Tcp& tcp, int from, uint8_t flags, const uint8_t* data, size_t size,
                 uint64_t timeUs);

    std::map<uint64_t, Tcp> m_tcp;
    uint16_t m_ipId = 0;
};
