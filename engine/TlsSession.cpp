#include "engine/TlsSession.h"

#include "text/SystemError.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kReadChunk = 16 * 1024 + 512; // a whole record with its framing

// What the session asks of the provider: a stream, its memory allocated for
// us, and the provider's own certificate checks left to us, so that the
// log can say why a certificate is refused (and "Accept any" can pass it).
constexpr DWORD kClientFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                               ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                               ISC_REQ_MANUAL_CRED_VALIDATION;
constexpr DWORD kServerFlags = ASC_REQ_SEQUENCE_DETECT | ASC_REQ_REPLAY_DETECT | ASC_REQ_CONFIDENTIALITY |
                               ASC_REQ_ALLOCATE_MEMORY | ASC_REQ_STREAM | ASC_REQ_EXTENDED_ERROR;

std::wstring Hex32(unsigned long value)
{
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", value);
    return text;
}

std::wstring ProtocolName(DWORD protocol)
{
    if (protocol & (SP_PROT_TLS1_3_CLIENT | SP_PROT_TLS1_3_SERVER))
        return L"TLS 1.3";
    if (protocol & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_2_SERVER))
        return L"TLS 1.2";
    if (protocol & (SP_PROT_TLS1_1_CLIENT | SP_PROT_TLS1_1_SERVER))
        return L"TLS 1.1";
    if (protocol & (SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_0_SERVER))
        return L"TLS 1.0";
    return L"TLS (" + Hex32(protocol) + L")";
}

std::wstring CipherName(ALG_ID cipher, DWORD strength)
{
    switch (cipher) {
    case CALG_AES_128: return L"AES 128";
    case CALG_AES_192: return L"AES 192";
    case CALG_AES_256: return L"AES 256";
    case CALG_3DES: return L"3DES";
    case CALG_RC4: return L"RC4";
    }
    return L"cipher " + Hex32(cipher) + L" (" + std::to_wstring(strength) + L" bits)";
}

std::wstring HashName(ALG_ID hash)
{
    switch (hash) {
    case CALG_SHA1: return L"SHA-1";
    case CALG_SHA_256: return L"SHA-256";
    case CALG_SHA_384: return L"SHA-384";
    case CALG_SHA_512: return L"SHA-512";
    case CALG_MD5: return L"MD5";
    case 0: return L"AEAD";
    }
    return L"hash " + Hex32(hash);
}

std::wstring SubjectOf(PCCERT_CONTEXT certificate)
{
    wchar_t name[512] = {};
    CertNameToStrW(X509_ASN_ENCODING, &certificate->pCertInfo->Subject, CERT_X500_NAME_STR, name, 512);
    return name;
}

std::wstring ExpiryOf(PCCERT_CONTEXT certificate)
{
    SYSTEMTIME t{};
    FileTimeToSystemTime(&certificate->pCertInfo->NotAfter, &t);
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u UTC", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
    return text;
}

// What a refused certificate is told by, in the user's terms.
std::wstring CertificateWords(DWORD error)
{
    switch (error) {
    case DWORD(CERT_E_UNTRUSTEDROOT): return L"it was issued by an authority this system does not trust";
    case DWORD(CERT_E_CHAINING): return L"its issuer is not known to this system";
    case DWORD(CERT_E_EXPIRED): return L"it has expired or is not valid yet";
    case DWORD(CERT_E_CN_NO_MATCH): return L"it is for another name";
    case DWORD(CERT_E_WRONG_USAGE): return L"it is not meant for a server";
    case DWORD(CERT_E_REVOKED): return L"it was revoked";
    case DWORD(TRUST_E_CERT_SIGNATURE): return L"its signature does not check";
    }
    return SystemErrorText(error);
}

bool WaitFor(SOCKET s, SocketEvent& event, HANDLE stop, ULONGLONG deadline, int& error)
{
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now < deadline ? DWORD(deadline - now) : 0;
    switch (WaitForWork(WorkSignals{stop, nullptr}, event.Get(), left)) {
    case Woken::Stop:
        error = WSAEINTR;
        return false;
    case Woken::Timeout:
        error = WSAETIMEDOUT;
        return false;
    default:
        break;
    }
    WSANETWORKEVENTS happened{};
    if (!event.Take(s, happened)) {
        error = WSAGetLastError();
        return false;
    }
    return true;
}

} // namespace

std::wstring DescribeSecurityStatus(long status)
{
    std::wstring words;
    switch (status) {
    case SEC_E_UNTRUSTED_ROOT: words = L"the certificate chain was issued by an untrusted authority"; break;
    case SEC_E_CERT_EXPIRED: words = L"the certificate has expired"; break;
    case SEC_E_WRONG_PRINCIPAL: words = L"the certificate is for another name"; break;
    case SEC_E_ALGORITHM_MISMATCH: words = L"the two sides have no cipher in common"; break;
    case SEC_E_ILLEGAL_MESSAGE: words = L"the peer sent a message that is not TLS, or refused the handshake"; break;
    case SEC_E_DECRYPT_FAILURE: words = L"a record could not be decrypted"; break;
    case SEC_E_MESSAGE_ALTERED: words = L"a record was altered"; break;
    case SEC_E_INTERNAL_ERROR: words = L"the TLS provider failed"; break;
    case SEC_E_NO_CREDENTIALS: words = L"no credentials are available"; break;
    case SEC_E_UNSUPPORTED_FUNCTION: words = L"the provider does not do this"; break;
    default: words = SystemErrorText(DWORD(status)); break;
    }
    return Hex32(unsigned(status)) + (words.empty() ? L"" : L": " + words);
}

// ---- TlsCredentials ------------------------------------------------------

TlsCredentials::~TlsCredentials()
{
    if (m_valid)
        FreeCredentialsHandle(&m_handle);
    if (m_certificate)
        CertFreeCertificateContext(m_certificate);
    if (m_store)
        CertCloseStore(m_store, 0);
}

bool TlsCredentials::ForClient(std::wstring& error)
{
    SCHANNEL_CRED credentials{};
    credentials.dwVersion = SCHANNEL_CRED_VERSION;
    credentials.dwFlags = SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_MANUAL_CRED_VALIDATION;
    TimeStamp expiry;
    const SECURITY_STATUS status =
        AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                  &credentials, nullptr, nullptr, &m_handle, &expiry);
    m_valid = status == SEC_E_OK;
    if (!m_valid)
        error = L"TLS is not available (" + DescribeSecurityStatus(status) + L")";
    return m_valid;
}

bool TlsCredentials::ForServer(const std::wstring& pfxFile, const std::wstring& password, std::wstring& error)
{
    m_server = true;
    if (pfxFile.empty()) {
        error = L"A TLS server needs a certificate: choose its .pfx file in Options.";
        return false;
    }
    const HANDLE file = CreateFileW(pfxFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = L"Could not open the certificate " + pfxFile + L" (" + SystemErrorText(GetLastError()) + L")";
        return false;
    }
    std::vector<uint8_t> bytes;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (16 << 20)) {
        bytes.resize(size_t(size.QuadPart));
        DWORD got = 0;
        if (!ReadFile(file, bytes.data(), DWORD(bytes.size()), &got, nullptr) || got != bytes.size())
            bytes.clear();
    }
    CloseHandle(file);
    CRYPT_DATA_BLOB blob{DWORD(bytes.size()), bytes.data()};
    if (bytes.empty() || !PFXIsPFXBlob(&blob)) {
        error = L"The certificate " + pfxFile + L" is not a .pfx file.";
        return false;
    }
    // Exportable: a provider that is a library of its own (Wine's) takes the
    // key out of the system to use it.
    m_store = PFXImportCertStore(&blob, password.c_str(), CRYPT_EXPORTABLE | PKCS12_NO_PERSIST_KEY);
    if (!m_store) {
        error = L"The certificate " + pfxFile + L" could not be opened (" + SystemErrorText(GetLastError()) +
                L"): is the password right?";
        return false;
    }
    // The first certificate that comes with its private key.
    for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(m_store, c)) != nullptr;) {
        DWORD length = 0;
        if (CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &length) ||
            CertGetCertificateContextProperty(c, CERT_KEY_CONTEXT_PROP_ID, nullptr, &length)) {
            m_certificate = CertDuplicateCertificateContext(c);
            CertFreeCertificateContext(c);
            break;
        }
    }
    if (!m_certificate) {
        error = L"The certificate " + pfxFile + L" holds no private key.";
        return false;
    }
    SCHANNEL_CRED credentials{};
    credentials.dwVersion = SCHANNEL_CRED_VERSION;
    credentials.cCreds = 1;
    credentials.paCred = &m_certificate;
    TimeStamp expiry;
    const SECURITY_STATUS status =
        AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_INBOUND, nullptr,
                                  &credentials, nullptr, nullptr, &m_handle, &expiry);
    m_valid = status == SEC_E_OK;
    if (!m_valid) {
        error = L"The certificate " + pfxFile + L" cannot serve TLS (" + DescribeSecurityStatus(status) + L")";
        return false;
    }
    // Some providers (Wine's) have no server side: asked to take the start
    // of a hello, they say so at once, and the server says it before any
    // client comes to find out.
    uint8_t start[5] = {0x16, 0x03, 0x01, 0x00, 0x40};
    SecBuffer in[2] = {{sizeof(start), SECBUFFER_TOKEN, start}, {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
    CtxtHandle probe{};
    ULONG attributes = 0;
    const SECURITY_STATUS served = AcceptSecurityContext(&m_handle, nullptr, &inDesc, kServerFlags, 0, &probe, &outDesc,
                                                         &attributes, &expiry);
    if (out[0].pvBuffer)
        FreeContextBuffer(out[0].pvBuffer);
    if (served == SEC_E_OK || served == SEC_I_CONTINUE_NEEDED)
        DeleteSecurityContext(&probe);
    if (served == SEC_E_UNSUPPORTED_FUNCTION) {
        error = L"This system's TLS provider cannot serve TLS (" + DescribeSecurityStatus(served) + L")";
        return false;
    }
    return true;
}

// ---- TlsStream -----------------------------------------------------------

TlsStream::~TlsStream()
{
    if (m_haveContext)
        DeleteSecurityContext(&m_context);
}

// One turn of the handshake over what has been read; what it says to send
// goes to `output`, and what it did not use stays in m_raw.
SECURITY_STATUS TlsStream::Step(const std::wstring& serverName, std::vector<uint8_t>& output)
{
    SecBuffer in[2] = {{ULONG(m_raw.size()), SECBUFFER_TOKEN, m_raw.data()}, {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
    // Nothing read yet: a client's first turn, or a close.
    SecBufferDesc* input = m_raw.empty() ? nullptr : &inDesc;
    ULONG attributes = 0;
    TimeStamp expiry;
    SECURITY_STATUS status;
    if (m_credentials.IsServer()) {
        status = AcceptSecurityContext(m_credentials.Handle(), m_haveContext ? &m_context : nullptr, input,
                                       kServerFlags, 0, &m_context, &outDesc, &attributes, &expiry);
    } else {
        status = InitializeSecurityContextW(m_credentials.Handle(), m_haveContext ? &m_context : nullptr,
                                            const_cast<wchar_t*>(serverName.c_str()), kClientFlags, 0, 0,
                                            input, 0, &m_context, &outDesc, &attributes,
                                            &expiry);
    }
    if (!m_haveContext && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE))
        m_haveContext = true;
    for (SecBuffer& b : out)
        if (b.pvBuffer) {
            if (b.BufferType == SECBUFFER_TOKEN && b.cbBuffer)
                output.insert(output.end(), static_cast<uint8_t*>(b.pvBuffer),
                              static_cast<uint8_t*>(b.pvBuffer) + b.cbBuffer);
            FreeContextBuffer(b.pvBuffer);
        }
    if (status == SEC_E_INCOMPLETE_MESSAGE)
        return status; // everything read is kept for the next turn
    if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer <= m_raw.size())
        m_raw.erase(m_raw.begin(), m_raw.end() - in[1].cbBuffer);
    else
        m_raw.clear();
    return status;
}

bool TlsStream::SendAll(SOCKET s, SocketEvent* event, HANDLE stop, const std::vector<uint8_t>& bytes,
                        ULONGLONG deadline)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        const int n = send(s, reinterpret_cast<const char*>(bytes.data() + sent), int(bytes.size() - sent), 0);
        if (n > 0) {
            sent += size_t(n);
            continue;
        }
        int error = WSAGetLastError();
        if (n == SOCKET_ERROR && error == WSAEWOULDBLOCK && event && WaitFor(s, *event, stop, deadline, error))
            continue;
        WSASetLastError(error);
        return false;
    }
    return true;
}

bool TlsStream::Handshake(SOCKET s, SocketEvent& event, HANDLE stop, const std::wstring& serverName, bool acceptAny,
                          std::wstring& error, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    // A client speaks first; a server waits for its hello.
    bool needInput = m_credentials.IsServer();
    for (;;) {
        if (needInput) {
            const size_t had = m_raw.size();
            m_raw.resize(had + kReadChunk);
            const int n = recv(s, reinterpret_cast<char*>(m_raw.data() + had), int(kReadChunk), 0);
            m_raw.resize(had + size_t(std::max(n, 0)));
            if (n == 0) {
                error = L"TLS handshake failed (closed by the peer)";
                return false;
            }
            if (n == SOCKET_ERROR) {
                int code = WSAGetLastError();
                if (code == WSAEWOULDBLOCK && WaitFor(s, event, stop, deadline, code))
                    continue;
                error = FormatSocketError(L"TLS handshake failed", code);
                return false;
            }
        }
        std::vector<uint8_t> output;
        const SECURITY_STATUS status = Step(serverName, output);
        if (!output.empty() && !SendAll(s, &event, stop, output, deadline)) {
            error = FormatSocketError(L"TLS handshake failed");
            return false;
        }
        if (status == SEC_E_OK)
            break;
        if (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE) {
            // Bytes left over are the next message, already here.
            needInput = status == SEC_E_INCOMPLETE_MESSAGE || m_raw.empty();
            continue;
        }
        error = L"TLS handshake failed (" + DescribeSecurityStatus(status) + L")";
        return false;
    }
    QueryContextAttributesW(&m_context, SECPKG_ATTR_STREAM_SIZES, &m_sizes);
    if (!m_credentials.IsServer() && !acceptAny) {
        const std::wstring problem = CertificateProblem(serverName);
        if (!problem.empty()) {
            error = problem;
            Close(s);
            return false;
        }
    }
    Describe(!m_credentials.IsServer());
    return true;
}

std::wstring TlsStream::CertificateProblem(const std::wstring& serverName) const
{
    PCCERT_CONTEXT certificate = nullptr;
    if (QueryContextAttributesW(const_cast<CtxtHandle*>(&m_context), SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) !=
            SEC_E_OK ||
        !certificate)
        return L"The server sent no certificate.";
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof(chainPara);
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    DWORD problem = 0;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, 0, nullptr, &chain)) {
        problem = GetLastError();
    } else {
        HTTPSPolicyCallbackData https{};
        https.cbStruct = sizeof(https);
        https.dwAuthType = AUTHTYPE_SERVER;
        https.pwszServerName = const_cast<wchar_t*>(serverName.c_str());
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof(policy);
        policy.pvExtraPolicyPara = &https;
        CERT_CHAIN_POLICY_STATUS verdict{};
        verdict.cbSize = sizeof(verdict);
        if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &verdict))
            problem = GetLastError();
        else
            problem = verdict.dwError;
        CertFreeCertificateChain(chain);
    }
    const std::wstring subject = SubjectOf(certificate);
    CertFreeCertificateContext(certificate);
    if (problem == 0)
        return {};
    return L"The server's certificate (" + subject + L") is refused: " + CertificateWords(problem) + L" (" +
           Hex32(problem) + L"). Tick \"Accept any certificate\" in Options to connect anyway.";
}

void TlsStream::Describe(bool withCertificate)
{
    SecPkgContext_ConnectionInfo info{};
    QueryContextAttributesW(&m_context, SECPKG_ATTR_CONNECTION_INFO, &info);
    m_summary = ProtocolName(info.dwProtocol) + L", " + CipherName(info.aiCipher, info.dwCipherStrength) + L", " +
                HashName(info.aiHash);
    PCCERT_CONTEXT certificate = nullptr;
    if (withCertificate &&
        QueryContextAttributesW(&m_context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) == SEC_E_OK && certificate) {
        m_summary += L"; certificate " + SubjectOf(certificate) + L", expires " + ExpiryOf(certificate);
        CertFreeCertificateContext(certificate);
    }
}

void TlsStream::Close(SOCKET s)
{
    if (!m_haveContext)
        return;
    DWORD token = SCHANNEL_SHUTDOWN;
    SecBuffer in{sizeof(token), SECBUFFER_TOKEN, &token};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 1, &in};
    if (ApplyControlToken(&m_context, &inDesc) != SEC_E_OK)
        return;
    m_raw.clear();
    std::vector<uint8_t> output;
    Step(L"", output);
    // As much as the socket takes at once: a stop does not wait for the peer.
    SendAll(s, nullptr, nullptr, output, 0);
}

// The record on its way out, to the end: its plaintext count once it has
// all left, else SOCKET_ERROR (WSAEWOULDBLOCK while the socket is full).
int TlsStream::FlushOut(SOCKET s)
{
    while (m_outSent < m_out.size()) {
        const int n = send(s, reinterpret_cast<const char*>(m_out.data() + m_outSent), int(m_out.size() - m_outSent), 0);
        if (n == SOCKET_ERROR)
            return SOCKET_ERROR;
        m_outSent += size_t(n);
    }
    const int done = m_outPlain;
    m_out.clear();
    m_outSent = 0;
    m_outPlain = 0;
    return done;
}

// A payload counts as written only once its record has left whole: a
// record cut short by a full socket is finished first, and the same bytes
// are offered again meanwhile.
int TlsStream::Send(SOCKET s, const uint8_t* bytes, int count)
{
    if (!m_out.empty())
        return FlushOut(s);
    if (count <= 0)
        return 0;
    const ULONG plain = ULONG(std::min<int>(count, int(m_sizes.cbMaximumMessage ? m_sizes.cbMaximumMessage : 16384)));
    m_out.resize(m_sizes.cbHeader + plain + m_sizes.cbTrailer);
    memcpy(m_out.data() + m_sizes.cbHeader, bytes, plain);
    SecBuffer b[4] = {{m_sizes.cbHeader, SECBUFFER_STREAM_HEADER, m_out.data()},
                      {plain, SECBUFFER_DATA, m_out.data() + m_sizes.cbHeader},
                      {m_sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, m_out.data() + m_sizes.cbHeader + plain},
                      {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
    if (EncryptMessage(&m_context, 0, &desc, 0) != SEC_E_OK) {
        m_out.clear();
        WSASetLastError(WSAECONNABORTED);
        return SOCKET_ERROR;
    }
    m_out.resize(b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer);
    m_outPlain = int(plain);
    m_outSent = 0;
    return FlushOut(s);
}

int TlsStream::Receive(SOCKET s, uint8_t* buffer, int count)
{
    for (;;) {
        if (m_plainOffset < m_plain.size()) {
            const int n = int(std::min<size_t>(size_t(count), m_plain.size() - m_plainOffset));
            memcpy(buffer, m_plain.data() + m_plainOffset, size_t(n));
            m_plainOffset += size_t(n);
            if (m_plainOffset == m_plain.size()) {
                m_plain.clear();
                m_plainOffset = 0;
            }
            return n;
        }
        if (m_peerClosed)
            return 0;
        if (!m_raw.empty()) {
            SecBuffer b[4] = {{ULONG(m_raw.size()), SECBUFFER_DATA, m_raw.data()},
                              {0, SECBUFFER_EMPTY, nullptr},
                              {0, SECBUFFER_EMPTY, nullptr},
                              {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
            const SECURITY_STATUS status = DecryptMessage(&m_context, &desc, 0, nullptr);
            if (status == SEC_E_OK || status == SEC_I_CONTEXT_EXPIRED || status == SEC_I_RENEGOTIATE) {
                std::vector<uint8_t> extra;
                for (const SecBuffer& part : b) {
                    const auto* p = static_cast<const uint8_t*>(part.pvBuffer);
                    if (part.BufferType == SECBUFFER_DATA && part.cbBuffer)
                        m_plain.insert(m_plain.end(), p, p + part.cbBuffer);
                    if (part.BufferType == SECBUFFER_EXTRA && part.cbBuffer)
                        extra.assign(p, p + part.cbBuffer);
                }
                m_raw = std::move(extra);
                if (status == SEC_I_CONTEXT_EXPIRED)
                    m_peerClosed = true; // the peer's close_notify
                if (status == SEC_I_RENEGOTIATE) {
                    // After the handshake (a TLS 1.3 ticket, say): the
                    // provider takes it, and may answer.
                    std::vector<uint8_t> output;
                    const SECURITY_STATUS again = Step(L"", output);
                    if (!output.empty())
                        SendAll(s, nullptr, nullptr, output, 0);
                    if (again != SEC_E_OK && again != SEC_I_CONTINUE_NEEDED) {
                        WSASetLastError(WSAECONNABORTED);
                        return SOCKET_ERROR;
                    }
                }
                continue;
            }
            if (status != SEC_E_INCOMPLETE_MESSAGE) {
                WSASetLastError(WSAECONNABORTED);
                return SOCKET_ERROR;
            }
        }
        const size_t had = m_raw.size();
        m_raw.resize(had + kReadChunk);
        const int n = recv(s, reinterpret_cast<char*>(m_raw.data() + had), int(kReadChunk), 0);
        m_raw.resize(had + size_t(std::max(n, 0)));
        if (n <= 0)
            return n; // the peer's close, not now, or a failure
    }
}
