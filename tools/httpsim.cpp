// Stand-in for the web servers, the name server and the compression proxy that tandor
// talks to, for tests in a private network. Shares no code with tandor.
//
//   httpsim [--pages DIR] [--names "A B ..."] [--log FILE] [--pidfile FILE]
//           [--bind ADDR] [--port N] [--dnsport N] [--proxyport N] [--auth USER:PASS]
//           [--parent PID]
//
// HTTP on --port (default 80): files of DIR (a file NAME.headers beside page NAME adds its
// lines to that page's response header), and these paths of its own:
//   /drip        headers, then one body byte per second (up to an hour)
//   /bigNm       N megabytes of body (N 1..100), as fast as the client reads
//   /reset       reads the request and answers with a TCP reset
//   /keepalive   a short page marked keep-alive; the connection is never closed by us
//   /silent      reads the request and never answers
//   /auth        200 with the right Basic credentials (--auth, default user:pass), else 401
//   /echo        the request's header block as the body
//   /frameset.html, /framed.html   a frameset whose frame points by an http:// URL at
//                the framed page of the same host (a file of DIR takes precedence)
// DNS on UDP --dnsport (default 53): A queries of the --names answer 127.0.0.1, other
// types of those names answer no data, every other name NXDOMAIN.
// Proxy on --proxyport (default 4201): accepts, reads and never answers.
// Every request, query and proxy connection is logged to --log, one line each (header
// lines of an HTTP request follow their request line, indented by two blanks).
// With --parent the simulator ends when that process ends. --pidfile is written once
// every socket listens.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace {

std::string hs__pages;
std::set<std::string> hs__names;
std::string hs__auth = "user:pass";
int hs__logfd = -1;
std::mutex hs__logmu;

void hs__log(const std::string& line) {
    std::string l = line + "\n";
    std::lock_guard<std::mutex> g(hs__logmu);
    if (hs__logfd >= 0) {
        ssize_t n = write(hs__logfd, l.data(), l.size());
        (void)n;
    }
}

std::string hs__lower(std::string s) {
    for (char& c : s)
        c = (char)tolower((unsigned char)c);
    return s;
}

bool hs__sendall(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= (size_t)w;
    }
    return true;
}

bool hs__sendall(int fd, const std::string& s) {
    return hs__sendall(fd, s.data(), s.size());
}

std::string hs__base64(const std::string& in) {
    static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        unsigned v =
            (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8 | (unsigned char)in[i + 2];
        out += abc[v >> 18 & 63];
        out += abc[v >> 12 & 63];
        out += abc[v >> 6 & 63];
        out += abc[v & 63];
    }
    if (i < in.size()) {
        unsigned v = (unsigned char)in[i] << 16;
        if (i + 1 < in.size()) v |= (unsigned char)in[i + 1] << 8;
        out += abc[v >> 18 & 63];
        out += abc[v >> 12 & 63];
        out += i + 1 < in.size() ? abc[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

// Reads one request header block (up to the empty line), at most 16 kB, waiting up to
// 10 s. Empty when the client closed or sent nothing.
std::string hs__readrequest(int fd) {
    std::string r;
    char buf[2048];
    while (r.find("\r\n\r\n") == std::string::npos && r.size() < 16384) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0) break;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        r.append(buf, (size_t)n);
    }
    return r;
}

std::string hs__header(const std::string& req, const std::string& name) {
    std::string low = hs__lower(req);
    size_t p = low.find("\r\n" + hs__lower(name) + ":");
    if (p == std::string::npos) return "";
    p += name.size() + 3;
    size_t e = req.find("\r\n", p);
    std::string v = req.substr(p, e == std::string::npos ? std::string::npos : e - p);
    while (!v.empty() && v[0] == ' ')
        v.erase(0, 1);
    return v;
}

std::string hs__response(int code, const char* text, const std::string& body,
                         const char* extra = "") {
    char h[256];
    snprintf(h, sizeof h, "HTTP/1.1 %d %s\r\nContent-Type: text/html\r\nContent-Length: %zu\r\n",
             code, text, body.size());
    return std::string(h) + extra + "Connection: close\r\n\r\n" + body;
}

bool hs__readfile(const std::string& path, std::string* out) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    char buf[8192];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out->append(buf, n);
    fclose(f);
    return true;
}

// Waits until the client closes (or an hour passes), discarding what it sends.
void hs__untilclosed(int fd) {
    char buf[4096];
    for (int i = 0; i < 3600; i++) {
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, 1000);
        if (r < 0 && errno != EINTR) return;
        if (r > 0 && recv(fd, buf, sizeof buf, 0) <= 0) return;
    }
}

void hs__http(int fd, std::string peer) {
    std::string req = hs__readrequest(fd);
    if (req.empty()) {
        hs__log("http " + peer + " (no request)");
        close(fd);
        return;
    }
    size_t eol = req.find("\r\n");
    std::string line = req.substr(0, eol);
    std::string log = "http " + peer + " " + line;
    // Header lines, each as the client sent it.
    size_t p = eol == std::string::npos ? req.size() : eol + 2;
    while (p < req.size()) {
        size_t e = req.find("\r\n", p);
        if (e == std::string::npos || e == p) break;
        log += "\n  " + req.substr(p, e - p);
        p = e + 2;
    }
    hs__log(log);

    std::string path;
    {
        size_t a = line.find(' ');
        size_t b = line.find(' ', a == std::string::npos ? 0 : a + 1);
        if (a != std::string::npos)
            path = line.substr(a + 1, b == std::string::npos ? b : b - a - 1);
    }
    std::string host = hs__header(req, "Host");
    if (size_t q = path.find('?'); q != std::string::npos) path.erase(q); // query ignored

    if (path == "/reset") {
        linger l{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        close(fd);
        return;
    }
    if (path == "/silent") {
        hs__untilclosed(fd);
        close(fd);
        return;
    }
    if (path == "/drip") {
        if (hs__sendall(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n")) {
            for (int i = 0; i < 3600; i++) {
                if (!hs__sendall(fd, "d")) break;
                sleep(1);
            }
        }
        close(fd);
        return;
    }
    unsigned mb = 0;
    if (sscanf(path.c_str(), "/big%um", &mb) == 1 && mb >= 1 && mb <= 100) {
        size_t total = (size_t)mb << 20;
        char head[200];
        snprintf(head, sizeof head,
                 "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %zu\r\n"
                 "Connection: close\r\n\r\n",
                 total);
        std::string block(65536, 'x');
        bool ok = hs__sendall(fd, head);
        for (size_t sent = 0; ok && sent < total; sent += block.size())
            ok = hs__sendall(fd, block.data(), std::min(block.size(), total - sent));
        close(fd);
        return;
    }
    if (path == "/keepalive") {
        std::string body = "<html>kept alive</html>";
        char h[200];
        snprintf(h, sizeof h,
                 "HTTP/1.1 200 OK\r\nContent-Length: %zu\r\nConnection: keep-alive\r\n\r\n",
                 body.size());
        hs__sendall(fd, std::string(h) + body);
        hs__untilclosed(fd);
        close(fd);
        return;
    }
    if (path == "/auth") {
        std::string want = "Basic " + hs__base64(hs__auth);
        if (hs__header(req, "Authorization") == want)
            hs__sendall(fd, hs__response(200, "OK", "<html>authorized</html>"));
        else
            hs__sendall(fd, hs__response(401, "Unauthorized", "<html>who are you</html>",
                                         "WWW-Authenticate: Basic realm=\"httpsim\"\r\n"));
        close(fd);
        return;
    }
    if (path == "/echo") {
        hs__sendall(fd, hs__response(200, "OK", req));
        close(fd);
        return;
    }
    std::string body;
    bool found = !hs__pages.empty() && path.size() > 1 && path[0] == '/' &&
                 path.find("..") == std::string::npos && hs__readfile(hs__pages + path, &body);
    if (!found && path == "/frameset.html") {
        body = "<html><frameset rows=\"100%\"><frame src=\"http://" + host +
               "/framed.html\" name=\"main\"></frameset></html>";
        found = true;
    } else if (!found && path == "/framed.html") {
        body = "<html>framed page</html>";
        found = true;
    }
    if (found) {
        // NAME.headers beside a page: its lines join the response header.
        std::string extra, zeilen;
        if (hs__readfile(hs__pages + path + ".headers", &zeilen)) {
            for (size_t a = 0; a < zeilen.size();) {
                size_t e = zeilen.find('\n', a);
                std::string z = zeilen.substr(a, e == std::string::npos ? e : e - a);
                if (!z.empty() && z.back() == '\r') z.pop_back();
                if (!z.empty()) extra += z + "\r\n";
                if (e == std::string::npos) break;
                a = e + 1;
            }
        }
        hs__sendall(fd, hs__response(200, "OK", body, extra.c_str()));
    } else
        hs__sendall(fd, hs__response(404, "Not Found", "<html>not found</html>"));
    close(fd);
}

void hs__proxy(int fd, std::string peer) {
    hs__log("proxy " + peer + " connected");
    char buf[4096];
    long total = 0;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, 1000);
        if (r < 0 && errno != EINTR) break;
        if (r <= 0) continue;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        total += n;
        hs__log("proxy " + peer + " received " + std::to_string(n) + " bytes");
    }
    hs__log("proxy " + peer + " closed after " + std::to_string(total) + " bytes");
    close(fd);
}

// One DNS query in q (n bytes) answered into a; returns the answer's length, 0 for none.
size_t hs__dns(const unsigned char* q, size_t n, unsigned char* a, size_t amax) {
    if (n < 12 || n > amax - 16) return 0;
    std::string name;
    size_t p = 12;
    while (p < n && q[p] != 0) {
        size_t len = q[p];
        if (len > 63 || p + 1 + len >= n) return 0;
        if (!name.empty()) name += '.';
        name.append((const char*)q + p + 1, len);
        p += 1 + len;
    }
    if (p + 5 > n) return 0;
    unsigned type = q[p + 1] << 8 | q[p + 2];
    size_t qend = p + 5;
    name = hs__lower(name);
    bool known = hs__names.count(name) > 0;
    memcpy(a, q, qend);
    a[2] = (unsigned char)(0x84 | (q[2] & 0x79)); // response, authoritative, opcode and RD kept
    a[3] = known ? 0x80 : 0x83;                   // recursion available; NXDOMAIN if unknown
    a[4] = 0, a[5] = 1;                           // one question
    a[6] = a[7] = a[8] = a[9] = a[10] = a[11] = 0;
    size_t len = qend;
    if (known && type == 1) {
        a[7] = 1;
        const unsigned char rr[] = {0xC0, 0x0C, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 127, 0, 0, 1};
        memcpy(a + len, rr, sizeof rr);
        len += sizeof rr;
    }
    hs__log("dns " + name + " type " + std::to_string(type) + " " +
            (known ? (type == 1 ? "127.0.0.1" : "nodata") : "NXDOMAIN"));
    return len;
}

int hs__listen(const char* addr, int port, int type) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons((uint16_t)port);
    if (inet_pton(AF_INET, addr, &sa.sin_addr) != 1 || bind(fd, (sockaddr*)&sa, sizeof sa) < 0 ||
        (type == SOCK_STREAM && listen(fd, 64) < 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string hs__peer(const sockaddr_in& sa) {
    char b[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &sa.sin_addr, b, sizeof b);
    return std::string(b) + ":" + std::to_string(ntohs(sa.sin_port));
}

} // namespace

int main(int argc, char** argv) {
    std::string logfile, pidfile, bindaddr = "127.0.0.1";
    int port = 80, dnsport = 53, proxyport = 4201;
    long parent = 0;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!v) {
            fprintf(stderr, "httpsim: %s needs a value\n", a.c_str());
            return 2;
        }
        i++;
        if (a == "--pages")
            hs__pages = v;
        else if (a == "--names") {
            std::string s = v;
            for (size_t p = 0; p < s.size();) {
                size_t e = s.find_first_of(" ,", p);
                if (e == std::string::npos) e = s.size();
                if (e > p) hs__names.insert(hs__lower(s.substr(p, e - p)));
                p = e + 1;
            }
        } else if (a == "--log")
            logfile = v;
        else if (a == "--pidfile")
            pidfile = v;
        else if (a == "--bind")
            bindaddr = v;
        else if (a == "--port")
            port = atoi(v);
        else if (a == "--dnsport")
            dnsport = atoi(v);
        else if (a == "--proxyport")
            proxyport = atoi(v);
        else if (a == "--auth")
            hs__auth = v;
        else if (a == "--parent")
            parent = atol(v);
        else {
            fprintf(stderr, "httpsim: unknown option %s\n", a.c_str());
            return 2;
        }
    }
    if (parent > 0) {
        // Ends with the process that started it, even when that one is killed.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) return 0;
    }
    signal(SIGPIPE, SIG_IGN);
    if (!logfile.empty())
        hs__logfd = open(logfile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);

    int web = hs__listen(bindaddr.c_str(), port, SOCK_STREAM);
    int dns = hs__listen(bindaddr.c_str(), dnsport, SOCK_DGRAM);
    int proxy = hs__listen(bindaddr.c_str(), proxyport, SOCK_STREAM);
    if (web < 0 || dns < 0 || proxy < 0) {
        fprintf(stderr, "httpsim: cannot listen on %s (%d/%d/%d): %s\n", bindaddr.c_str(), port,
                dnsport, proxyport, strerror(errno));
        return 1;
    }
    if (!pidfile.empty()) {
        std::string tmp = pidfile + ".tmp";
        FILE* f = fopen(tmp.c_str(), "w");
        if (!f) return 1;
        fprintf(f, "%ld\n", (long)getpid());
        fclose(f);
        if (rename(tmp.c_str(), pidfile.c_str()) != 0) return 1;
    }
    printf("ready\n");
    fflush(stdout);

    for (;;) {
        pollfd p[3] = {{web, POLLIN, 0}, {dns, POLLIN, 0}, {proxy, POLLIN, 0}};
        if (poll(p, 3, -1) < 0) {
            if (errno == EINTR) continue;
            return 1;
        }
        for (int i : {0, 2}) {
            if (!(p[i].revents & POLLIN)) continue;
            sockaddr_in sa{};
            socklen_t sl = sizeof sa;
            int c = accept4(p[i].fd, (sockaddr*)&sa, &sl, SOCK_CLOEXEC);
            if (c < 0) continue;
            std::thread(i == 0 ? hs__http : hs__proxy, c, hs__peer(sa)).detach();
        }
        if (p[1].revents & POLLIN) {
            unsigned char q[512], a[600];
            sockaddr_in sa{};
            socklen_t sl = sizeof sa;
            ssize_t n = recvfrom(dns, q, sizeof q, 0, (sockaddr*)&sa, &sl);
            if (n <= 0) continue;
            size_t len = hs__dns(q, (size_t)n, a, sizeof a);
            if (len > 0) sendto(dns, a, len, 0, (sockaddr*)&sa, sl);
        }
    }
}
