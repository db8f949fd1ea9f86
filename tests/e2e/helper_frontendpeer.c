/* A frontend of its own, as another program on the machine would write one: it knows the
 * record only by the published x86-64 layout (numeric offsets below), not by the program's
 * headers. It works inside the System V IPC namespace of a process (PID), or in its own
 * with "-":
 *   helper_frontendpeer PID read KEY               prints the record's fields, one per line
 *   helper_frontendpeer PID command KEY TEXT MS    writes TEXT, waits until the field is empty
 *   helper_frontendpeer PID raw100 KEY MS          writes 100 bytes without a NUL, waits likewise
 *   helper_frontendpeer PID waitend KEY MS         stays attached until the counter is 0, then
 *                                                  tells whether the key is gone
 *   helper_frontendpeer PID create-foreign KEY     makes a segment with the key and gives it
 *                                                  to uid 65534
 *   helper_frontendpeer PID check-foreign KEY      the foreign segment is there, untouched
 *   helper_frontendpeer PID gone KEY               the key names no segment
 * Exit 0 when the step did what it says, 1 otherwise, 2 on usage errors. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <time.h>
#include <unistd.h>

/* The x86-64 layout. */
enum {
    O_LEN = 0,
    O_SVERSION = 8,
    O_PVERSION = 10,
    O_COMMAND = 40,
    N_COMMAND = 100,
    O_COUNTER = 144,
    O_VOLUME = 152,
    O_TIME = 160,
    O_ONLINE = 168,
    O_OFFLINE = 176,
    O_UP = 184,
    O_DOWN = 192,
    O_OPMODE = 200,
    O_SIGRAW = 201,
    O_SIGPERCENT = 202,
    O_SIGDBM = 204,
    O_NAME = 206,
    N_NAME = 32,
    O_PLMN = 238,
    N_PLMN = 7,
    O_LAC = 245,
    N_LAC = 5,
    O_CID = 250,
    N_CID = 5,
    O_MESSAGE = 255,
    N_MESSAGE = 65,
    O_MINI = 320,
    N_MINI = 49,
    O_ERROR = 369,
    N_ERROR = 33,
    O_BATTERY = 402,
    O_INTERNAL1 = 408,
    O_ANSWER = 464,
    N_ANSWER = 600,
    RECORD = 1064,
    MARKE = 600 /* where create-foreign leaves its mark */
};

static unsigned long ul(const unsigned char* r, int o) {
    unsigned long v;
    memcpy(&v, r + o, sizeof v);
    return v;
}

static void text(const char* name, const unsigned char* r, int o, int n) {
    char t[N_ANSWER + 1];
    memcpy(t, r + o, (size_t)n);
    t[n] = 0;
    printf("%s=%s\n", name, t);
}

static long long jetzt(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

static unsigned char* anhaengen(key_t key, int nurlesen) {
    int id = shmget(key, 0, 0);
    if (id < 0) {
        perror("frontendpeer: shmget");
        return NULL;
    }
    struct shmid_ds ds;
    if (shmctl(id, IPC_STAT, &ds) != 0 || ds.shm_segsz < RECORD) {
        fprintf(stderr, "frontendpeer: segment too small\n");
        return NULL;
    }
    void* p = shmat(id, NULL, nurlesen ? SHM_RDONLY : 0);
    if (p == (void*)-1) {
        perror("frontendpeer: shmat");
        return NULL;
    }
    unsigned char* r = p;
    if (ul(r, O_LEN) != RECORD) {
        fprintf(stderr, "frontendpeer: len %lu\n", ul(r, O_LEN));
        shmdt(p);
        return NULL;
    }
    return r;
}

/* Waits until the program cleared the command field. */
static int warteleer(volatile unsigned char* r, long ms, int sagen) {
    long long ende = jetzt() + ms;
    long long beginn = jetzt();
    while (jetzt() < ende) {
        if (r[O_COMMAND] == 0) {
            if (sagen) printf("cleared %lld\n", jetzt() - beginn);
            return 0;
        }
        usleep(20000);
    }
    printf(sagen ? "timeout\n" : "busy\n");
    return 1;
}

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    if (strcmp(argv[1], "-") != 0) {
        char pfad[64];
        snprintf(pfad, sizeof pfad, "/proc/%s/ns/ipc", argv[1]);
        int ns = open(pfad, O_RDONLY | O_CLOEXEC);
        if (ns < 0 || setns(ns, CLONE_NEWIPC) != 0) {
            perror("frontendpeer: setns");
            return 1;
        }
        close(ns);
    }
    const char* was = argv[2];
    key_t key = (key_t)strtoul(argv[3], NULL, 0);

    if (strcmp(was, "read") == 0) {
        unsigned char* r = anhaengen(key, 1);
        if (!r) return 1;
        printf("len=%lu\n", ul(r, O_LEN));
        unsigned short sv, pv;
        short dbm;
        memcpy(&sv, r + O_SVERSION, 2);
        memcpy(&pv, r + O_PVERSION, 2);
        memcpy(&dbm, r + O_SIGDBM, 2);
        printf("structure_version=%u\nprogram_version=%u\n", sv, pv);
        printf("process_counter=%lu\n",
               __atomic_load_n((unsigned long*)(r + O_COUNTER), __ATOMIC_ACQUIRE));
        printf("volume=%lu\ntime=%lu\nonline_time=%lu\noffline_time=%lu\n", ul(r, O_VOLUME),
               ul(r, O_TIME), ul(r, O_ONLINE), ul(r, O_OFFLINE));
        printf("upspeed=%lu\ndownspeed=%lu\nopmode=%u\n", ul(r, O_UP), ul(r, O_DOWN), r[O_OPMODE]);
        printf("signal_raw=%u\nsignal_percent=%u\nsignal_dbm=%d\n", r[O_SIGRAW], r[O_SIGPERCENT],
               dbm);
        text("network_name", r, O_NAME, N_NAME);
        text("plmn", r, O_PLMN, N_PLMN);
        text("lac", r, O_LAC, N_LAC);
        text("cid", r, O_CID, N_CID);
        text("message", r, O_MESSAGE, N_MESSAGE);
        text("mini_message", r, O_MINI, N_MINI);
        text("error_message", r, O_ERROR, N_ERROR);
        printf("battery=%u\nwarning_icon=%u\n", r[O_BATTERY], r[O_INTERNAL1]);
        text("answer", r, O_ANSWER, N_ANSWER);
        return 0;
    }
    if ((strcmp(was, "command") == 0 && argc == 6) || (strcmp(was, "raw100") == 0 && argc == 5)) {
        unsigned char* r = anhaengen(key, 0);
        if (!r) return 1;
        int roh = strcmp(was, "raw100") == 0;
        long ms = atol(argv[roh ? 4 : 5]);
        /* A frontend sends only into an empty field. */
        if (warteleer(r, ms, 0) != 0) return 1;
        if (roh) {
            memset(r + O_COMMAND, 'x', N_COMMAND);
        } else {
            size_t n = strlen(argv[4]);
            if (n >= N_COMMAND) n = N_COMMAND - 1;
            /* The text first, its first byte last, so the program never sees half of it. */
            memcpy(r + O_COMMAND + 1, argv[4] + 1, n ? n - 1 : 0);
            r[O_COMMAND + n] = 0;
            __atomic_store_n(r + O_COMMAND, (unsigned char)argv[4][0], __ATOMIC_RELEASE);
        }
        return warteleer(r, ms, 1);
    }
    if (strcmp(was, "waitend") == 0 && argc == 5) {
        unsigned char* r = anhaengen(key, 1);
        if (!r) return 1;
        long long ende = jetzt() + atol(argv[4]);
        while (jetzt() < ende &&
               __atomic_load_n((unsigned long*)(r + O_COUNTER), __ATOMIC_ACQUIRE) != 0)
            usleep(20000);
        unsigned long z = __atomic_load_n((unsigned long*)(r + O_COUNTER), __ATOMIC_ACQUIRE);
        int weg = shmget(key, 0, 0) < 0 && errno == ENOENT;
        printf("process_counter=%lu keygone=%d\n", z, weg);
        return z == 0 && weg ? 0 : 1;
    }
    if (strcmp(was, "create-foreign") == 0) {
        int id = shmget(key, RECORD, IPC_CREAT | IPC_EXCL | 0644);
        if (id < 0) {
            perror("frontendpeer: shmget");
            return 1;
        }
        unsigned char* r = shmat(id, NULL, 0);
        if (r == (void*)-1) return 1;
        strcpy((char*)r + MARKE, "foreign");
        shmdt(r);
        struct shmid_ds ds;
        shmctl(id, IPC_STAT, &ds);
        ds.shm_perm.uid = 65534;
        if (shmctl(id, IPC_SET, &ds) != 0) {
            perror("frontendpeer: IPC_SET");
            return 1;
        }
        printf("%d\n", id);
        return 0;
    }
    if (strcmp(was, "check-foreign") == 0) {
        int id = shmget(key, 0, 0);
        struct shmid_ds ds;
        if (id < 0 || shmctl(id, IPC_STAT, &ds) != 0) {
            printf("missing\n");
            return 1;
        }
        unsigned char* r = shmat(id, NULL, SHM_RDONLY);
        int gut = r != (void*)-1 && strcmp((char*)r + MARKE, "foreign") == 0 && ul(r, O_LEN) == 0 &&
                  ds.shm_perm.uid == 65534 && ds.shm_nattch == 0;
        printf("%s uid=%u nattch=%lu\n", gut ? "untouched" : "touched", (unsigned)ds.shm_perm.uid,
               (unsigned long)ds.shm_nattch);
        return gut ? 0 : 1;
    }
    if (strcmp(was, "gone") == 0) {
        int weg = shmget(key, 0, 0) < 0 && errno == ENOENT;
        printf(weg ? "gone\n" : "there\n");
        return weg ? 0 : 1;
    }
    return 2;
}
