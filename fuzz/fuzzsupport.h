// Shared pieces of the fuzz targets: a private working directory for whatever the parsers
// log, exact-size heap copies of the input (so that AddressSanitizer sees every byte read
// past the end), and the checks on the fixed-size text fields the parsers fill.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

// Aborts with a message: libFuzzer records the input as a crash.
#define FZ_PRUEF(bedingung)                                                                        \
    do {                                                                                           \
        if (!(bedingung)) {                                                                        \
            fprintf(stderr, "check failed: %s (%s:%d)\n", #bedingung, __FILE__, __LINE__);         \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

// The logs a parser may write go to a fresh directory under /tmp, removed again at exit,
// never into the directory the fuzzer was started in.
inline void fz_arbeitsverzeichnis() {
    static char dir[] = "/tmp/tandorfuzzXXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0) {
        perror("fuzz: scratch directory");
        exit(1);
    }
    atexit([] {
        for (const char* f : {"servilog.txt", "servilogx.txt", "debuglog.txt", "connlog.txt"})
            unlink(f);
        rmdir(dir);
    });
}
// Keeps the logs from growing over a long run.
inline void fz_logsleeren() {
    for (const char* f : {"servilog.txt", "servilogx.txt", "debuglog.txt", "connlog.txt"})
        unlink(f);
}

// The input as a NUL-terminated string in a buffer of exactly its length + 1 (bytes after
// an embedded NUL are cut off, as a C string would see them).
struct fz_text {
    std::vector<char> b;
    fz_text(const uint8_t* data, size_t size) : b(data, data + size) { b.push_back(0); }
    fz_text(const std::string& s) : b(s.begin(), s.end()) { b.push_back(0); }
    char* c() { return b.data(); }
};

// Splits the input at a separator byte into up to max pieces.
inline std::vector<std::string> fz_teile(const uint8_t* data, size_t size, uint8_t trenner,
                                         size_t max) {
    std::vector<std::string> t(1);
    for (size_t i = 0; i < size; i++) {
        if (data[i] == trenner && t.size() < max)
            t.emplace_back();
        else
            t.back().push_back(static_cast<char>(data[i]));
    }
    return t;
}

// A text field holds its NUL within its size.
template <size_t N> bool fz_terminiert(const char (&feld)[N]) {
    return memchr(feld, 0, N) != nullptr;
}
inline bool fz_terminiert(const char* feld, size_t n) {
    return memchr(feld, 0, n) != nullptr;
}
