#include "core/webfetch.h"

#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

// Receive buffer: grown in steps of ed_block (plus ed_zusatz spare for the terminator)
// whenever less than a quarter of a step is free; nothing is kept beyond ed_maxmax.
constexpr long ed_block = 40000;
constexpr long ed_zusatz = 10;
constexpr long ed_maxmax = 300000;

constexpr long iz__STILLE = 2000;       // silence that ends a transfer, ms
constexpr long iz__SCHRITT = 100;       // longest single wait: how soon a program end is seen
constexpr long iz__MINVERBINDEN = 2000; // connect wait of timeout 0
constexpr size_t iz__HOSTMAX = 259;
constexpr size_t iz__ZEILEMAX = 1000; // request line and frame address
constexpr size_t iz__NAMEMAX = 199;   // user and password each

// Closes a descriptor on every path.
struct iz__fd {
    int fd = -1;
    ~iz__fd() {
        if (fd >= 0) close(fd);
    }
    int abgeben() {
        int f = fd;
        fd = -1;
        return f;
    }
};

// Network waits run on the real clock even when a test runs the program's clock virtually.
long long iz__jetzt() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

enum { IZ_BEREIT = 1, IZ_ABGELAUFEN = 0, IZ_FEHLER = -1, IZ_ENDE = -2 };

// Waits until fd has one of events (or an error) or the deadline passes, in short steps
// that notice a requested program end.
int iz__warte(int fd, short events, long long bis) {
    for (;;) {
        if (programmende_gewuenscht) return IZ_ENDE;
        long long rest = bis - iz__jetzt();
        if (rest <= 0) return IZ_ABGELAUFEN;
        pollfd p{fd, events, 0};
        int r = poll(&p, 1, (int)min<long long>(rest, iz__SCHRITT));
        if (r < 0) {
            if (errno == EINTR) continue;
            return IZ_FEHLER;
        }
        if (r > 0) return IZ_BEREIT;
    }
}

// Name resolution in a thread of its own, because getaddrinfo has no time-out of its own.
// The caller and the resolver share this record; whoever finishes with it last frees it,
// so a caller that gave up never waits for a hanging resolver.
struct iz__aufloesung {
    std::mutex mu;
    std::condition_variable cv;
    bool fertig = false;    // the resolver has stored its result
    bool verlassen = false; // the caller has given up waiting
    int rc = 0;
    addrinfo* res = nullptr;
    char host[iz__HOSTMAX + 1];
    char dienst[8];
};

addrinfo iz__hinweise(int flags) {
    addrinfo h{};
    h.ai_family = AF_UNSPEC;
    h.ai_socktype = SOCK_STREAM;
    h.ai_flags = flags;
    return h;
}

void* iz__aufloeser(void* arg) {
    iz__aufloesung* a = (iz__aufloesung*)arg;
    addrinfo h = iz__hinweise(0);
    addrinfo* res = nullptr;
    int rc = getaddrinfo(a->host, a->dienst, &h, &res);
    bool verlassen;
    {
        std::lock_guard<std::mutex> g(a->mu);
        a->rc = rc;
        a->res = res;
        a->fertig = true;
        verlassen = a->verlassen;
        a->cv.notify_all();
    }
    if (verlassen) {
        if (res) freeaddrinfo(res);
        delete a;
    }
    return nullptr;
}

// The addresses of host:dienst by the deadline, or null; *rc (when given) is getaddrinfo's
// result, EAI_AGAIN when no answer came in time. An address literal is taken as it is,
// without the resolver.
addrinfo* iz__aufloesen(const char* host, const char* dienst, long long bis, int* rc = nullptr) {
    int r;
    if (!rc) rc = &r;
    addrinfo h = iz__hinweise(AI_NUMERICHOST);
    addrinfo* res = nullptr;
    if (getaddrinfo(host, dienst, &h, &res) == 0) return *rc = 0, res;

    *rc = EAI_AGAIN;
    iz__aufloesung* a = new iz__aufloesung;
    strMcpy(a->host, host);
    strMcpy(a->dienst, dienst);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t t;
    int e = pthread_create(&t, &attr, iz__aufloeser, a);
    pthread_attr_destroy(&attr);
    if (e != 0) {
        delete a;
        return nullptr;
    }
    std::unique_lock<std::mutex> g(a->mu);
    while (!a->fertig && !programmende_gewuenscht && iz__jetzt() < bis)
        a->cv.wait_for(g, std::chrono::milliseconds(iz__SCHRITT));
    if (!a->fertig) {
        a->verlassen = true;
        return nullptr;
    }
    g.unlock();
    *rc = a->rc;
    res = a->res;
    delete a;
    if (*rc != 0 || !res) {
        if (res) freeaddrinfo(res);
        if (*rc == 0) *rc = EAI_FAIL;
        return nullptr;
    }
    return res;
}

// A connected non-blocking socket to one of the addresses by the deadline, or -1 (logged).
int iz__verbinden(const addrinfo* ai, long long bis) {
    for (const addrinfo* a = ai; a; a = a->ai_next) {
        iz__fd s{socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)};
        if (s.fd < 0) continue;
        if (connect(s.fd, a->ai_addr, a->ai_addrlen) == 0) return s.abgeben();
        if (errno != EINPROGRESS && errno != EAGAIN) {
            lo_slog("HTTP GET URL: not EWOULDBLOCK and not EINPROGRESS\n", "", -1);
            continue;
        }
        switch (iz__warte(s.fd, POLLOUT, bis)) {
        case IZ_FEHLER:
            lo_slog("HTTP GET URL: select failed\n", "", -1);
            return -1;
        case IZ_ABGELAUFEN:
            lo_slog("HTTP GET URL: timeout\n", "", -1);
            return -1;
        case IZ_ENDE:
            return -1;
        }
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) return s.abgeben();
        lo_slog("HTTP GET URL: connect failed, error %s%li\n", "", err);
    }
    return -1;
}

// Sends all of p by the deadline. MSG_NOSIGNAL: a peer's reset must not raise SIGPIPE,
// which would end the program.
bool iz__sendeganz(int fd, const char* p, size_t n, long long bis) {
    while (n > 0) {
        ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0) {
            if (errno == EINTR) continue;
            if ((errno == EAGAIN || errno == EWOULDBLOCK) &&
                iz__warte(fd, POLLOUT, bis) == IZ_BEREIT)
                continue;
            return false;
        }
        p += w;
        n -= (size_t)w;
    }
    return true;
}

bool iz__hostzeichen(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

// Host and path of url (a leading "http://" stripped). The path is percent-encoded where
// it holds blanks, control characters or bytes above 127, so that a URL never breaks the
// request line or adds a header line; a fragment is not sent. False (logged) when the
// host is empty, too long or holds characters a host name cannot have, or when the
// request line would exceed its bound.
bool iz__zerlegen(const char* url, char (&host)[iz__HOSTMAX + 1], char (&pfad)[iz__ZEILEMAX]) {
    if (memicmp(url, "http://", 7) == 0) url += 7;
    size_t hl = strcspn(url, "/");
    if (hl == 0 || hl > iz__HOSTMAX) {
        lo_slog("HTTP GET URL: no usable host in %s\n", url, -1);
        return false;
    }
    for (size_t i = 0; i < hl; i++) {
        if (!iz__hostzeichen(url[i])) {
            lo_slog("HTTP GET URL: no usable host in %s\n", url, -1);
            return false;
        }
    }
    memcpy(host, url, hl);
    host[hl] = 0;
    const char* p = url + hl;
    if (*p == '/') p++;
    // "GET /" + path + " HTTP/1.1" within the request-line bound.
    const size_t pfadmax = iz__ZEILEMAX - strlen("GET / HTTP/1.1");
    size_t n = 0;
    for (; *p && *p != '#'; p++) {
        unsigned char c = (unsigned char)*p;
        bool kodieren = c <= ' ' || c >= 127;
        if (n + (kodieren ? 3 : 1) > pfadmax) {
            lo_slog("HTTP GET URL: address too long\n", "", -1);
            return false;
        }
        if (kodieren) {
            pfad[n++] = '%';
            pfad[n++] = _hexdigit[c >> 4];
            pfad[n++] = _hexdigit[c & 15];
        } else {
            pfad[n++] = (char)c;
        }
    }
    pfad[n] = 0;
    return true;
}

// The address of the first "<frame src=\"http://" in data into ziel, cut at the closing
// quote, a blank or a control character and at the bound. False when there is none.
bool iz__framesrc(const char* data, char (&ziel)[iz__ZEILEMAX + 1]) {
    const char* p = strstr(data, "<frame src=\"http://");
    if (!p) return false;
    p += strlen("<frame src=\"");
    size_t n = 0;
    while (n < iz__ZEILEMAX && (unsigned char)p[n] > ' ' && p[n] != '"' && p[n] != 127)
        n++;
    memcpy(ziel, p, n);
    ziel[n] = 0;
    return true;
}

char* iz__httpget(const char* url, const char* user, const char* pass, int timeout, int frame,
                  bool meld, int ebene) {
    if (!url) return nullptr;
    lo_slog("HTTP GET URL: %s\n", url, -1);
    if (timeout < 0) return nullptr;
    const long t = timeout == 1 ? 2000 : timeout == 2 ? 8000 : timeout;
    const long long start = iz__jetzt();

    char host[iz__HOSTMAX + 1];
    char pfad[iz__ZEILEMAX];
    if (!iz__zerlegen(url, host, pfad)) return nullptr;

    // Resolving and connecting share one wait; timeout 0 still gives the connection its
    // time, or the request would never reach a real network.
    const long long verbindenbis = start + (t == 0 ? iz__MINVERBINDEN : t);
    int rc;
    addrinfo* ai = iz__aufloesen(host, "80", verbindenbis, &rc);
    if (!ai) {
        lo_slog(rc == EAI_AGAIN ? "HTTP GET URL: resolving %s timed out\n"
                                : "HTTP GET URL: cannot resolve %s\n",
                host, -1);
        return nullptr;
    }
    iz__fd s{iz__verbinden(ai, verbindenbis)};
    freeaddrinfo(ai);
    if (s.fd < 0) return nullptr;
    if (meld) ps_splash(21);

    char anfrage[iz__ZEILEMAX + iz__HOSTMAX + 1200];
    int n = snprintf(anfrage, sizeof anfrage,
                     "GET /%s HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n", pfad, host);
    if (user && pass && *user && *pass && frame != 1) {
        // "user:pass" and room for its Base64 form.
        char zugang[4 * (2 * iz__NAMEMAX + 1 + 2) / 3 + 4];
        char u[iz__NAMEMAX + 1], pw[iz__NAMEMAX + 1];
        strMcpy(u, user);
        strMcpy(pw, pass);
        snprintf(zugang, sizeof zugang, "%s:%s", u, pw);
        iz__base64(zugang);
        n += snprintf(anfrage + n, sizeof anfrage - (size_t)n, "Authorization: Basic %s\r\n",
                      zugang);
        explicit_bzero(zugang, sizeof zugang);
        explicit_bzero(pw, sizeof pw);
        lo_slog("HTTP %s\n", "Authorization: Basic (hidden)", -1);
    }
    n += snprintf(anfrage + n, sizeof anfrage - (size_t)n, "\r\n");
    bool gesendet = iz__sendeganz(s.fd, anfrage, (size_t)n, iz__jetzt() + max(t, iz__MINVERBINDEN));
    explicit_bzero(anfrage, sizeof anfrage);
    if (!gesendet) {
        lo_slog("HTTP GET URL: sending failed\n", "", -1);
        return nullptr;
    }
    if (t == 0) return nullptr;

    // The first data within t, then at most 2 s of silence between chunks, and the whole
    // transfer within ten times t; the peer's end of the stream ends it at once.
    const long long ende = iz__jetzt() + 10LL * t;
    long long stillebis = iz__jetzt() + t;
    char* daten = nullptr;
    long len = 0, platz = 0;
    while (len < ed_maxmax) {
        int w = iz__warte(s.fd, POLLIN, min(stillebis, ende));
        if (w != IZ_BEREIT) {
            if (w == IZ_ABGELAUFEN && len == 0) lo_slog("HTTP GET URL: timeout\n", "", -1);
            break;
        }
        if (platz - len < ed_block / 4) {
            platz += ed_block;
            char* neu = (char*)realloc(daten, (size_t)(platz + ed_zusatz));
            if (!neu) abort();
            daten = neu;
        }
        ssize_t r =
            recv(s.fd, daten + len, (size_t)min(platz - len, ed_maxmax - len), MSG_DONTWAIT);
        if (r == 0) break;
        if (r < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            lo_slog("HTTP GET URL: receive error %s%li\n", "", errno);
            break;
        }
        len += r;
        stillebis = iz__jetzt() + iz__STILLE;
    }
    if (len == 0) {
        free(daten);
        lo_slog("HTTP GET URL: nothing received\n", "", -1);
        return nullptr;
    }
    daten[len] = 0;
    lo_slog("HTTP GET URL: %s%li bytes received\n", "", len);

    if (frame == 1 && ebene == 0) {
        char ziel[iz__ZEILEMAX + 1];
        if (iz__framesrc(daten, ziel)) {
            free(daten);
            close(s.abgeben());
            return iz__httpget(ziel, nullptr, nullptr, timeout, frame, false, 1);
        }
    }
    return daten;
}

} // namespace

char* iz_httpget(const char* url, const char* user, const char* pass, int timeout, int frame,
                 bool meld) {
    return iz__httpget(url, user, pass, timeout, frame, meld, 0);
}

void iz__base64(char* t) {
    static constexpr char abc[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const size_t n = strlen(t);
    const size_t gruppen = (n + 2) / 3;
    // From the last group to the first: group i reads bytes 3i..3i+2 and writes 4i..4i+3,
    // so working backwards never overwrites a byte that is still to be read.
    t[4 * gruppen] = 0;
    for (size_t i = gruppen; i-- > 0;) {
        const size_t rest = n - 3 * i;
        unsigned char a = (unsigned char)t[3 * i];
        unsigned char b = rest > 1 ? (unsigned char)t[3 * i + 1] : 0;
        unsigned char c = rest > 2 ? (unsigned char)t[3 * i + 2] : 0;
        char* o = t + 4 * i;
        o[0] = abc[a >> 2];
        o[1] = abc[(a & 3) << 4 | b >> 4];
        o[2] = rest > 1 ? abc[(b & 15) << 2 | c >> 6] : '=';
        o[3] = rest > 2 ? abc[c & 63] : '=';
    }
}

bool iz_httpbrowse(const char* url) {
    // A leading '-' would make the URL an option of the browser's launcher.
    if (!url || !*url || *url == '-') {
        lo_slog("Browser: refused URL %s\n", url ? url : "", -1);
        return false;
    }
    lo_slog("Browser: %s\n", url, -1);
    // The grandchild reports a failed exec through this pipe; a successful exec closes it.
    int rohr[2];
    if (pipe2(rohr, O_CLOEXEC) != 0) return false;
    iz__fd lesen{rohr[0]}, schreiben{rohr[1]};
    pid_t kind = fork();
    if (kind < 0) return false;
    if (kind == 0) {
        // Detached: a session of its own and, through the second fork, no longer our
        // child, so nobody needs to reap it and it outlives us. Only async-signal-safe
        // calls from here on.
        setsid();
        pid_t enkel = fork();
        if (enkel == 0) {
            sigset_t leer;
            sigemptyset(&leer);
            sigprocmask(SIG_SETMASK, &leer, nullptr);
            signal(SIGPIPE, SIG_DFL);
            int nul = open("/dev/null", O_RDWR);
            if (nul >= 0) {
                dup2(nul, 0);
                dup2(nul, 1);
                dup2(nul, 2);
            }
            // Everything beyond stdio closes at the exec: the modem port and sockets must
            // not leak into the browser; the report pipe stays usable until then.
            if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0)
                for (int fd = 3; fd < 1024; fd++)
                    fcntl(fd, F_SETFD, FD_CLOEXEC);
            execlp("xdg-open", "xdg-open", url, (char*)nullptr);
            int e = errno;
            ssize_t w = write(rohr[1], &e, sizeof e);
            (void)w;
            _exit(127);
        }
        _exit(enkel < 0 ? 1 : 0);
    }
    close(schreiben.abgeben());
    int status = 0;
    while (waitpid(kind, &status, 0) < 0 && errno == EINTR) {
    }
    int e = 0;
    ssize_t r;
    while ((r = read(lesen.fd, &e, sizeof e)) < 0 && errno == EINTR) {
    }
    if (r > 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        lo_slog("Browser: xdg-open could not be started, error %s%li\n", "", r > 0 ? e : 0);
        return false;
    }
    return true;
}

int iz_namensantwort(const char* host, long ms) {
    int rc;
    addrinfo* ai = iz__aufloesen(host, "80", iz__jetzt() + ms, &rc);
    if (ai) freeaddrinfo(ai);
    return ai ? 0 : rc == EAI_NONAME ? 1 : -1;
}

int iz_verbinden(const char* host, int port, long ms) {
    long long bis = iz__jetzt() + ms;
    char dienst[8];
    snprintf(dienst, sizeof dienst, "%d", port);
    addrinfo* ai = iz__aufloesen(host, dienst, bis);
    if (!ai) return -1;
    int s = iz__verbinden(ai, bis);
    freeaddrinfo(ai);
    return s;
}
