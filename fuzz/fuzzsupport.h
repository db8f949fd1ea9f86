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

// The logs a parser may write go to a fresh directory under /tmp, removed again at a
// normal exit, never into the directory the fuzzer was started in. libFuzzer reads its
// arguments after LLVMFuzzerInitialize, so relative corpus and artifact paths are made
// absolute first, and crash files land where the fuzzer was started.
inline void fz_arbeitsverzeichnis(int* argc, char*** argv) {
    static char dir[] = "/tmp/tandorfuzzXXXXXX";
    static std::vector<std::string> pfade;
    static std::vector<char*> neu;
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) {
        perror("fuzz: getcwd");
        exit(1);
    }
    auto absolut = [&](const std::string& p) {
        return p[0] == '/' ? p : std::string(cwd) + "/" + p;
    };
    bool artefakt = false;
    pfade.reserve(static_cast<size_t>(*argc) + 1);
    for (int i = 0; i < *argc; i++) {
        std::string a = (*argv)[i];
        if (i > 0 && !a.empty() && a[0] != '-') a = absolut(a);
        for (const char* flag : {"-artifact_prefix=", "-exact_artifact_path=", "-dict="}) {
            size_t l = strlen(flag);
            if (a.compare(0, l, flag) == 0 && a.size() > l) a = flag + absolut(a.substr(l));
        }
        if (a.compare(0, 17, "-artifact_prefix=") == 0) artefakt = true;
        pfade.push_back(a);
    }
    if (!artefakt) pfade.push_back(std::string("-artifact_prefix=") + cwd + "/");
    for (std::string& a : pfade)
        neu.push_back(a.data());
    neu.push_back(nullptr);
    *argc = static_cast<int>(pfade.size());
    *argv = neu.data();
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
