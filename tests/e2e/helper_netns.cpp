// Works inside the network namespace of another process (the tandor under test):
//   helper_netns PID send N SIZE   routes N UDP datagrams of SIZE bytes out of ppp0
//   helper_netns PID counters      prints "RX TX", the kernel's ppp0 byte counters
// Exits 1 when the namespace cannot be entered or ppp0 is not listed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool hn__zaehler(long* rx, long* tx) {
    FILE* f = fopen("/proc/self/net/dev", "r");
    if (!f) return false;
    char z[512];
    bool da = false;
    while (!da && fgets(z, sizeof z, f)) {
        char n[64];
        long v[9];
        if (sscanf(z, " %63[^:]: %ld %ld %ld %ld %ld %ld %ld %ld %ld", n, &v[0], &v[1], &v[2],
                   &v[3], &v[4], &v[5], &v[6], &v[7], &v[8]) == 10 &&
            strcmp(n, "ppp0") == 0) {
            *rx = v[0];
            *tx = v[8];
            da = true;
        }
    }
    fclose(f);
    return da;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    char pfad[64];
    snprintf(pfad, sizeof pfad, "/proc/%s/ns/net", argv[1]);
    int ns = open(pfad, O_RDONLY | O_CLOEXEC);
    if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) {
        perror("helper_netns: setns");
        return 1;
    }
    close(ns);
    long rx = 0, tx = 0;
    if (strcmp(argv[2], "send") == 0 && argc == 5) {
        int n = atoi(argv[3]);
        std::vector<char> daten(static_cast<size_t>(atoi(argv[4])), 'x');
        int s = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(9);
        inet_pton(AF_INET, "10.64.64.1", &a.sin_addr);
        for (int i = 0; i < n; i++)
            if (sendto(s, daten.data(), daten.size(), 0, reinterpret_cast<sockaddr*>(&a),
                       sizeof a) < 0) {
                perror("helper_netns: sendto");
                return 1;
            }
        close(s);
        return 0;
    }
    if (!hn__zaehler(&rx, &tx)) return 1;
    printf("%ld %ld\n", rx, tx);
    return 0;
}
