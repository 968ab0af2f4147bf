#pragma once

#include "engine/SocketUtil.h"

#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <security.h>
#include <schannel.h>
#include <wincrypt.h>

#include <cstdint>
#include <string>
#include <vector>

// The system's TLS credentials for one run of a link: a client's (no
// certificate of its own), or a server's certificate from a .pfx file,
// shared by all its clients' sessions.
class TlsCredentials {
public:
    TlsCredentials() = default;
    ~TlsCredentials();
    TlsCredentials(const TlsCredentials&) = delete;
    TlsCredentials& operator=(const TlsCredentials&) = delete;

    // False with why in `error`.
    bool ForClient(std::wstring& error);
    bool ForServer(const std::wstring& pfxFile, const std::wstring& password, std::wstring& error);
    CredHandle* Handle() { return &m_handle; }
    bool IsServer() const { return m_server; }

private:
    CredHandle m_handle{};
    bool m_valid = false;
    bool m_server = false;
    HCERTSTORE m_store = nullptr;
    PCCERT_CONTEXT m_certificate = nullptr;
};

// One TLS session over a connected non-blocking stream socket: the bytes
// the stream hands on are the plaintext.
class TlsStream : public StreamIo {
public:
    explicit TlsStream(TlsCredentials& credentials) : m_credentials(credentials) {}
    ~TlsStream() override;
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    // The handshake, on a socket watched by `event` for read, write and
    // close, within `timeoutMs` and until stopped; false with why in
    // `error`. A client checks the server's certificate against
    // `serverName` unless it accepts any.
    bool Handshake(SOCKET socket, SocketEvent& event, HANDLE stop, const std::wstring& serverName, bool acceptAny,
                   std::wstring& error, DWORD timeoutMs = 10000);
    // "TLS 1.2, AES 256, SHA-384; certificate CN=device.local, expires
    // 2027-01-08 11:53 UTC" (a server's leaves out the certificate).
    const std::wstring& Summary() const { return m_summary; }

    // Tells the peer the session ends, as far as the socket takes it now.
    void Close(SOCKET socket);

    int Send(SOCKET socket, const uint8_t* bytes, int count) override;
    int Receive(SOCKET socket, uint8_t* buffer, int count) override;

private:
    SECURITY_STATUS Step(const std::wstring& serverName, std::vector<uint8_t>& output);
    bool SendAll(SOCKET socket, SocketEvent* event, HANDLE stop, const std::vector<uint8_t>& bytes, ULONGLONG deadline);
    std::wstring CertificateProblem(const std::wstring& serverName) const;
    void Describe(bool withCertificate);
    int FlushOut(SOCKET socket);

    TlsCredentials& m_credentials;
    CtxtHandle m_context{};
    bool m_haveContext = false;
    SecPkgContext_StreamSizes m_sizes{};
    std::vector<uint8_t> m_raw;   // read from the socket, not yet decrypted
    std::vector<uint8_t> m_plain; // decrypted, not yet handed on
    size_t m_plainOffset = 0;
    std::vector<uint8_t> m_out; // one encrypted record on its way out
    size_t m_outSent = 0;
    int m_outPlain = 0; // the plaintext bytes that record holds
    bool m_peerClosed = false;
    std::wstring m_summary;
};

// "0x80090325: the certificate chain was issued by an untrusted
// authority": a security status as the log shows it.
std::wstring DescribeSecurityStatus(long status);
