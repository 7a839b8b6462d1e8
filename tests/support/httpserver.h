// A small scripted HTTP/1.1 server on 127.0.0.1 for tests that go through the real WinINet and real
// TCP. Each path gets a reply: status, headers, body and how the body is delivered. Every request is
// logged (request line, Host, User-Agent and the cache headers). Origin-form ("GET /a HTTP/1.1") and
// proxy-form ("GET http://host/a HTTP/1.1") request lines are both accepted, so the server can stand
// in for a proxy set in the registry and answer for any host.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace ts {

struct HttpReply {
    enum class Mode {
        Length,    // Content-Length and the whole body
        Chunked,   // Transfer-Encoding: chunked, no length
        Cut,       // the full Content-Length is announced, cutAfter bytes are sent, then the connection closes
        Stall,     // headers and cutAfter bytes, then nothing until Release() (or Stop), then the rest
        Redirect,  // status (302 unless another 3xx is set) with Location: location
        Endless,   // the body again and again until the client goes away or the server stops
    };
    int status = 200;
    Mode mode = Mode::Length;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // extra header lines
    size_t cutAfter = 0;                                        // Cut and Stall
    // Content-Length announced instead of the body's size (Length, Cut, Endless); below 0: the body's
    // size, and none at all for Endless.
    long long announcedLength = -1;
    std::string location;                                       // Redirect
    // Length mode: the body goes out in pieces of this many bytes (0: in one send). When pace is a
    // semaphore, each piece waits for one release of it (bounded by the server's stop).
    size_t pieceBytes = 0;
    HANDLE pace = nullptr;
};

struct HttpRequestLog {
    std::string requestLine;  // as received, without CR LF
    std::string method;
    std::string target;       // as in the request line
    std::string path;         // the path part of the target (origin form), query included
    std::string host;         // Host header
    std::string userAgent;
    std::string cacheControl;
    std::string pragma;
};

class HttpServer {
public:
    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens on 127.0.0.1 at a port the system picks. False (with nothing left running) on failure.
    bool Start();
    // Stops listening, releases stalled replies and waits for every connection to end.
    void Stop();
    unsigned short Port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by path (which should begin with '/').
    std::wstring Url(const std::string& path) const;

    // The reply for a path (query included, exact match). Unknown paths get 404.
    void Set(const std::string& path, const HttpReply& reply);
    void SetBody(const std::string& path, const std::string& body);  // 200, Length mode
    void Remove(const std::string& path);
    // Lets every stalled reply go on.
    void Release();

    std::vector<HttpRequestLog> Requests() const;
    int CountFor(const std::string& path) const;
    void ClearLog();

    // A loopback port where nothing listens (a connection there is refused).
    static unsigned short UnusedPort();

private:
    struct Impl;
    static DWORD WINAPI AcceptThread(void* self);
    static DWORD WINAPI ConnectionThread(void* param);
    void Serve(UINT_PTR socket);

    Impl* impl_;
    unsigned short port_ = 0;
};

// Clears the current user's proxy settings, so that WinINet's preconfigured access goes direct.
// With a server given, sets it as the proxy for every host instead (ProxyEnable 1).
void SetUserProxy(const std::wstring& server = L"");

}  // namespace ts
