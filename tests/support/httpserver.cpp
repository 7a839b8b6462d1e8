#include <winsock2.h>
#include <ws2tcpip.h>

#include "httpserver.h"

#include <stdio.h>

#include <algorithm>
#include <map>
#include <set>

namespace ts {

namespace {

const DWORD kIoTimeoutMs = 15000;  // a client that neither sends nor closes
const DWORD kPaceBoundMs = 30000;  // a paced piece nobody releases

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

const char* Reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 303: return "See Other";
        case 307: return "Temporary Redirect";
        case 404: return "Not Found";
        case 407: return "Proxy Authentication Required";
        case 500: return "Internal Server Error";
        default: return "Status";
    }
}

bool SendAll(SOCKET s, const char* data, size_t size) {
    while (size > 0) {
        int chunk = static_cast<int>(std::min<size_t>(size, 1 << 20));
        int n = send(s, data, chunk, 0);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool SendAll(SOCKET s, const std::string& data) { return SendAll(s, data.data(), data.size()); }

}  // namespace

struct HttpServer::Impl {
    CRITICAL_SECTION lock;
    std::map<std::string, HttpReply> replies;
    std::vector<HttpRequestLog> log;
    std::vector<HANDLE> threads;
    std::set<SOCKET> open;
    SOCKET listener = INVALID_SOCKET;
    HANDLE acceptThread = nullptr;
    HANDLE stopEvent = nullptr;
    HANDLE releaseEvent = nullptr;
    bool wsa = false;

    Impl() { InitializeCriticalSection(&lock); }
    ~Impl() { DeleteCriticalSection(&lock); }
};

namespace {
struct Locked {
    CRITICAL_SECTION* cs;
    explicit Locked(CRITICAL_SECTION* c) : cs(c) { EnterCriticalSection(cs); }
    ~Locked() { LeaveCriticalSection(cs); }
};

struct ConnectionStart {
    HttpServer* server;
    SOCKET socket;
};
}  // namespace

HttpServer::HttpServer() : impl_(new Impl) {}

HttpServer::~HttpServer() {
    Stop();
    delete impl_;
}

bool HttpServer::Start() {
    if (impl_->listener != INVALID_SOCKET) return true;
    WSADATA wd;
    if (WSAStartup(MAKEWORD(2, 2), &wd) != 0) return false;
    impl_->wsa = true;
    impl_->stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    impl_->releaseEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET || !impl_->stopEvent || !impl_->releaseEvent) {
        if (s != INVALID_SOCKET) closesocket(s);
        Stop();
        return false;
    }
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    int len = sizeof(a);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || listen(s, 16) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        closesocket(s);
        Stop();
        return false;
    }
    impl_->listener = s;
    port_ = ntohs(a.sin_port);
    impl_->acceptThread = CreateThread(nullptr, 0, AcceptThread, this, 0, nullptr);
    if (!impl_->acceptThread) {
        Stop();
        return false;
    }
    return true;
}

void HttpServer::Stop() {
    if (impl_->stopEvent) SetEvent(impl_->stopEvent);
    if (impl_->releaseEvent) SetEvent(impl_->releaseEvent);
    if (impl_->acceptThread) {
        WaitForSingleObject(impl_->acceptThread, 10000);
        CloseHandle(impl_->acceptThread);
        impl_->acceptThread = nullptr;
    }
    if (impl_->listener != INVALID_SOCKET) {
        closesocket(impl_->listener);
        impl_->listener = INVALID_SOCKET;
    }
    std::vector<HANDLE> threads;
    {
        Locked l(&impl_->lock);
        for (SOCKET s : impl_->open) shutdown(s, SD_BOTH);  // a thread blocked in recv returns
        threads.swap(impl_->threads);
    }
    for (HANDLE t : threads) {
        WaitForSingleObject(t, 10000);
        CloseHandle(t);
    }
    if (impl_->stopEvent) CloseHandle(impl_->stopEvent);
    if (impl_->releaseEvent) CloseHandle(impl_->releaseEvent);
    impl_->stopEvent = impl_->releaseEvent = nullptr;
    if (impl_->wsa) WSACleanup();
    impl_->wsa = false;
    port_ = 0;
}

std::wstring HttpServer::Url(const std::string& path) const {
    wchar_t head[64];
    swprintf(head, 64, L"http://127.0.0.1:%u", static_cast<unsigned>(port_));
    std::wstring out = head;
    for (char c : path) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

void HttpServer::Set(const std::string& path, const HttpReply& reply) {
    Locked l(&impl_->lock);
    impl_->replies[path] = reply;
}

void HttpServer::SetBody(const std::string& path, const std::string& body) {
    HttpReply r;
    r.body = body;
    Set(path, r);
}

void HttpServer::Remove(const std::string& path) {
    Locked l(&impl_->lock);
    impl_->replies.erase(path);
}

void HttpServer::Release() {
    if (impl_->releaseEvent) SetEvent(impl_->releaseEvent);
}

std::vector<HttpRequestLog> HttpServer::Requests() const {
    Locked l(&impl_->lock);
    return impl_->log;
}

int HttpServer::CountFor(const std::string& path) const {
    Locked l(&impl_->lock);
    return static_cast<int>(std::count_if(impl_->log.begin(), impl_->log.end(),
                                          [&](const HttpRequestLog& r) { return r.path == path; }));
}

void HttpServer::ClearLog() {
    Locked l(&impl_->lock);
    impl_->log.clear();
}

unsigned short HttpServer::UnusedPort() {
    WSADATA wd;
    if (WSAStartup(MAKEWORD(2, 2), &wd) != 0) return 0;
    unsigned short port = 0;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET) {
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int len = sizeof(a);
        if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 &&
            getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin_port);
        closesocket(s);  // never listened on: a connection there is refused
    }
    WSACleanup();
    return port;
}

DWORD WINAPI HttpServer::AcceptThread(void* self) {
    HttpServer* server = static_cast<HttpServer*>(self);
    for (;;) {
        // select with a short bound: a listener closed under a blocked accept is not woken everywhere.
        if (WaitForSingleObject(server->impl_->stopEvent, 0) == WAIT_OBJECT_0) break;
        fd_set set;
        FD_ZERO(&set);
        FD_SET(server->impl_->listener, &set);
        timeval tv = {0, 100000};
        int ready = select(0, &set, nullptr, nullptr, &tv);
        if (ready < 0) break;
        if (ready == 0) continue;
        SOCKET c = accept(server->impl_->listener, nullptr, nullptr);
        if (c == INVALID_SOCKET) break;  // closed by Stop
        if (WaitForSingleObject(server->impl_->stopEvent, 0) == WAIT_OBJECT_0) {
            closesocket(c);
            break;
        }
        DWORD timeout = kIoTimeoutMs;
        setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
        setsockopt(c, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
        ConnectionStart* start = new ConnectionStart{server, c};
        Locked l(&server->impl_->lock);
        server->impl_->open.insert(c);
        HANDLE t = CreateThread(nullptr, 0, ConnectionThread, start, 0, nullptr);
        if (t) {
            server->impl_->threads.push_back(t);
        } else {
            server->impl_->open.erase(c);
            closesocket(c);
            delete start;
        }
    }
    return 0;
}

DWORD WINAPI HttpServer::ConnectionThread(void* param) {
    ConnectionStart* start = static_cast<ConnectionStart*>(param);
    HttpServer* server = start->server;
    SOCKET s = start->socket;
    delete start;
    server->Serve(s);
    {
        Locked l(&server->impl_->lock);
        server->impl_->open.erase(s);
    }
    closesocket(s);
    return 0;
}

void HttpServer::Serve(UINT_PTR socketValue) {
    SOCKET s = static_cast<SOCKET>(socketValue);
    // One request per connection: every reply says "Connection: close".
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        if (head.size() > 65536) return;
        int n = recv(s, buf, sizeof(buf), 0);
        if (n <= 0) return;
        head.append(buf, static_cast<size_t>(n));
    }
    head.resize(head.find("\r\n\r\n"));

    HttpRequestLog entry;
    size_t eol = head.find("\r\n");
    entry.requestLine = head.substr(0, eol);
    {
        size_t sp1 = entry.requestLine.find(' ');
        size_t sp2 = entry.requestLine.rfind(' ');
        if (sp1 != std::string::npos) {
            entry.method = entry.requestLine.substr(0, sp1);
            entry.target = sp2 > sp1 ? entry.requestLine.substr(sp1 + 1, sp2 - sp1 - 1)
                                     : entry.requestLine.substr(sp1 + 1);
        }
    }
    entry.path = entry.target;
    if (Lower(entry.path.substr(0, 7)) == "http://") {
        size_t slash = entry.path.find('/', 7);
        entry.path = slash == std::string::npos ? "/" : entry.path.substr(slash);
    }
    size_t pos = eol == std::string::npos ? head.size() : eol + 2;
    while (pos < head.size()) {
        size_t e = head.find("\r\n", pos);
        if (e == std::string::npos) e = head.size();
        std::string line = head.substr(pos, e - pos);
        pos = e + 2;
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = Lower(Trim(line.substr(0, colon)));
        std::string value = Trim(line.substr(colon + 1));
        if (name == "host") entry.host = value;
        else if (name == "user-agent") entry.userAgent = value;
        else if (name == "cache-control") entry.cacheControl = value;
        else if (name == "pragma") entry.pragma = value;
    }

    HttpReply reply;
    bool known = false;
    {
        Locked l(&impl_->lock);
        impl_->log.push_back(entry);
        auto it = impl_->replies.find(entry.path);
        if (it != impl_->replies.end()) {
            reply = it->second;
            known = true;
        }
    }
    if (!known) {
        reply.status = 404;
        reply.body = "<html><body>not found</body></html>";
    }
    int status = reply.status;
    if (reply.mode == HttpReply::Mode::Redirect && (status < 300 || status > 399)) status = 302;

    char line[128];
    snprintf(line, sizeof(line), "HTTP/1.1 %d %s\r\n", status, Reason(status));
    std::string out = line;
    out += "Connection: close\r\n";
    if (reply.mode == HttpReply::Mode::Redirect) out += "Location: " + reply.location + "\r\n";
    if (reply.mode == HttpReply::Mode::Chunked) {
        out += "Transfer-Encoding: chunked\r\n";
    } else if (reply.announcedLength >= 0) {
        out += "Content-Length: " + std::to_string(reply.announcedLength) + "\r\n";
    } else if (reply.mode != HttpReply::Mode::Endless) {
        out += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    }
    for (const auto& h : reply.headers) out += h.first + ": " + h.second + "\r\n";
    out += "\r\n";
    if (!SendAll(s, out)) return;

    const std::string& body = reply.body;
    switch (reply.mode) {
        case HttpReply::Mode::Length:
        case HttpReply::Mode::Redirect: {
            size_t piece = reply.pieceBytes ? reply.pieceBytes : std::max<size_t>(body.size(), 1);
            for (size_t off = 0; off < body.size(); off += piece) {
                if (reply.pace) {
                    HANDLE waits[2] = {reply.pace, impl_->stopEvent};
                    if (WaitForMultipleObjects(2, waits, FALSE, kPaceBoundMs) != WAIT_OBJECT_0) return;
                }
                if (!SendAll(s, body.data() + off, std::min(piece, body.size() - off))) return;
            }
            break;
        }
        case HttpReply::Mode::Endless: {
            if (body.empty()) break;
            while (WaitForSingleObject(impl_->stopEvent, 0) == WAIT_TIMEOUT) {
                if (!SendAll(s, body)) return;
            }
            return;
        }
        case HttpReply::Mode::Chunked: {
            size_t piece = reply.pieceBytes ? reply.pieceBytes : std::max<size_t>(body.size(), 1);
            for (size_t off = 0; off < body.size(); off += piece) {
                size_t n = std::min(piece, body.size() - off);
                char size[32];
                snprintf(size, sizeof(size), "%zx\r\n", n);
                if (!SendAll(s, size) || !SendAll(s, body.data() + off, n) || !SendAll(s, "\r\n")) return;
            }
            if (!SendAll(s, "0\r\n\r\n")) return;
            break;
        }
        case HttpReply::Mode::Cut:
            if (!SendAll(s, body.data(), std::min(reply.cutAfter, body.size()))) return;
            break;
        case HttpReply::Mode::Stall: {
            size_t first = std::min(reply.cutAfter, body.size());
            if (!SendAll(s, body.data(), first)) return;
            HANDLE waits[2] = {impl_->releaseEvent, impl_->stopEvent};
            WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            if (!SendAll(s, body.data() + first, body.size() - first)) return;
            break;
        }
    }
    // Orderly close: the client reads everything sent before it sees the end.
    shutdown(s, SD_SEND);
    while (recv(s, buf, sizeof(buf), 0) > 0) {
    }
}

void SetUserProxy(const std::wstring& server) {
    const wchar_t kKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    DWORD enable = server.empty() ? 0 : 1;
    RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof(enable));
    if (server.empty()) {
        RegDeleteValueW(key, L"ProxyServer");
    } else {
        RegSetValueExW(key, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                       static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
}

}  // namespace ts
