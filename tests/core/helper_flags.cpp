// Flag operations from a process of their own, for the tests of the cross-process flags.
//   set KEY                      set the flag and exit (leaves a dead owner behind)
//   query KEY                    print "held" or "free"
//   queryset KEY [GO DONE]       wait for the file GO, query-and-set, print "held" or
//                                "free", then stay alive until the file DONE exists
//   hold KEY SECONDS             set the flag, print "ready", live SECONDS seconds
#include "core/flags.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

bool waitfile(const char* path, int seconds) {
    for (int i = 0; i < seconds * 1000; i++) {
        if (access(path, F_OK) == 0) return true;
        usleep(1000);
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    unsigned long key = strtoul(argv[2], nullptr, 0);
    if (!strcmp(argv[1], "set")) return fl_set(key) ? 0 : 1;
    if (!strcmp(argv[1], "query")) {
        printf("%s\n", fl_query(key) ? "held" : "free");
        return 0;
    }
    if (!strcmp(argv[1], "queryset")) {
        if (argc > 4 && !waitfile(argv[3], 30)) return 3;
        printf("%s\n", fl_queryset(key) ? "held" : "free");
        fflush(stdout);
        if (argc > 4 && !waitfile(argv[4], 30)) return 3;
        return 0;
    }
    if (!strcmp(argv[1], "hold") && argc > 3) {
        if (!fl_set(key)) return 1;
        printf("ready\n");
        fflush(stdout);
        sleep((unsigned)atoi(argv[3]));
        return 0;
    }
    return 2;
}
