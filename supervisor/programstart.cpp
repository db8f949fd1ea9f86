#include "supervisor/programstart.h"

#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"
#include "core/threads.h"
#include "messaging/sms.h"
#include "supervisor/instance.h"
#include "supervisor/mainthread.h"
#include "supervisor/programend.h"
#include "supervisor/sessionclient.h"
#include "supervisor/warnings.h"
#include "ui/gtkmain.h"
#include "ui/mainwindow.h"
#include "connection/dialup.h"
#include "connection/reachability.h"
#include "connection/routerlink.h"
#include "connection/statistics.h"
#include "modem/startupchecks.h"
#include "ui/trayicons.h"
#include "ui/messagebox.h"
#include "ui/splash.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

// What endall saw, for st_signallog. Lock-free atomics are async-signal-safe.
std::atomic<int> st__signo{0};
std::atomic<int> st__sigcode{0};
std::atomic<int> st__sigpid{0};
static_assert(std::atomic<int>::is_always_lock_free);

bool st__startswith(const char* s, const char* kw) {
    return memicmp(s, kw, (long)strlen(kw)) == 0;
}

// The shared data directory counts when its ini file starts with a byte other than
// NUL and '*'.
bool st__shareddir() {
    char fn[320];
    snprintf(fn, sizeof fn, "%s/tandor.ini", sy_path(SY_SHAREDIR));
    int fd = open(fn, O_RDONLY);
    if (fd < 0) return false;
    char c = 0;
    bool ok = read(fd, &c, 1) == 1 && c != 0 && c != '*';
    close(fd);
    return ok;
}

bool st__systemdir(const char* dir) {
    return strcmp(dir, sy_path(SY_USRBIN)) == 0 || strcmp(dir, "/usr/bin") == 0 ||
           strcmp(dir, "/usr/local/bin") == 0 || strcmp(dir, "/bin") == 0 ||
           strcmp(dir, "/sbin") == 0;
}

} // namespace

void endall(int signo, siginfo_t* info, void*) {
    st__sigcode = info ? info->si_code : 0;
    st__sigpid = info ? (int)info->si_pid : 0;
    st__signo = signo;
    shutdownerlaubt = false;
    ps_endeanfordern();
}

bool st_signallog() {
    int signo = st__signo.exchange(0);
    if (signo == 0) return false;
    char zeile[120];
    snprintf(zeile, sizeof zeile, "Received: signal %i, code %i from process %i.\n", signo,
             st__sigcode.load(), st__sigpid.load());
    lo_slog("%s", zeile, -1);
    return true;
}

void st_workdir(const char* argv0, const char* homedir, char* dir, size_t dirlen) {
    char pfad[300];
    strMcpy(pfad, argv0 ? argv0 : "");
    if (dirlen) dir[0] = 0;
    char* slash = strrchr(pfad, '/');
    if (!slash) return;
    *slash = 0;
    if (pfad[0] == 0) strMcpy(pfad, "/");
    if (!st__systemdir(pfad)) {
        strmcpy(dir, pfad, dirlen);
        return;
    }
    ubuntusysdir = true;
    char basis[300];
    if (st__shareddir())
        strMcpy(basis, sy_path(SY_SHAREDIR));
    else
        strMcpy(basis, homedir && homedir[0] ? homedir : "~");
    size_t n = strlen(basis);
    if (n == 0 || basis[n - 1] != '/') strmcpy(basis + n, "/", sizeof basis - n);
    n = strlen(basis);
    strmcpy(basis + n, "tandor", sizeof basis - n);
    dir_create(basis);
    file_makerw(basis, 0);
    strmcpy(dir, basis, dirlen);
}

void st_dirarguments(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        if (!argv[i] || !st__startswith(argv[i], "DIR=")) continue;
        const char* d = argv[i] + 4;
        while (*d == ' ')
            d++;
        if (chdir(d) != 0) {
            // The program then works in whatever directory it is in.
        }
    }
}

int st_keywords(int argc, char** argv) {
    int instanz = 0;
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        if (!a || !a[0]) continue;
        if (stricmp(a, "NOSPLASH") == 0)
            cs_nosplash = true;
        else if (stricmp(a, "MUTE") == 0)
            tonlos = true;
        else if (stricmp(a, "SILENTINSTALL") == 0)
            _silentinstall = true;
        else if (stricmp(a, "STARTTOGGLE") == 0)
            _starttoggle = 1;
        else if (memicmp(a, "INSTANCE", 8) == 0) {
            const char* r = a + 8;
            while (*r == '=' || *r == ' ')
                r++;
            lo_slog("INSTANCE: \"%s\"\n", r, -1);
            instanz = (*r >= '0' && *r <= '9') ? *r - '0' : 0;
        }
    }
    aktivsignal += instanz;
    endesignal += instanz;
    konfigaktivsignal += instanz;
    smssignal += instanz;
    tdriok += instanz;
    return instanz;
}

int st_funktion(int argc, char** argv) {
    const char* name = argv && argv[0] ? argv[0] : "";
    const char* slash = strrchr(name, '/');
    if (slash) name = slash + 1;
    const char* arg1 = argc > 1 && argv[1] ? argv[1] : "";
    if (memicmp(name, "CONTROL", 7) == 0 || stricmp(arg1, "CONTROL") == 0) return FUNKTION_CONTROL;
    if (memicmp(name, "PROFILE", 7) == 0 || stricmp(arg1, "PROFILE") == 0) return FUNKTION_PROFILE;
    if (memicmp(name, "tandor_DEBIAN_REMOVE", 20) == 0 ||
        stricmp(arg1, "tandor_DEBIAN_REMOVE") == 0) {
        cs_nosplash = true;
        return FUNKTION_REMOVE;
    }
    return 0;
}

void st_main(int argc, char** argv) {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = endall;
    sa.sa_flags = SA_SIGINFO | SA_NOCLDWAIT;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGHUP, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    _argc = argc;
    _argv = argv;
    g_set_prgname("tandor");
    ps_hooks.startcheck = ia_startcheck;
    ps_hooks.programmende = programmende;
    ps_hooks.statustext = cc_show2;
    ps_hooks.messagebox = [](const char* title, const char* text, int, int icon) {
        return me_messagebox(0, title, text, icon, 0, 0);
    };
    ps_hooks.splash = cs_show;
    ps_hooks.splashtext = cs_splashtext;
    ps_hooks.windowposition = cc_getposition;
    ps_hooks.windowform = [] { return fefo; };
    ps_hooks.startchecks = iv_startchecks;
    ps_hooks.smssignal = ia_smssignal;
    ps_hooks.timegap = cn_timegap;
    // The statistics and the dial-up reach each other, the window and the tray through
    // these tables, so each can be tested alone.
    cn_statistikhooks.start = cn_start;
    cn_statistikhooks.stop = cn_stop;
    cn_statistikhooks.isactive = cn_isactive;
    cn_statistikhooks.timegap = cn_timegap;
    cn_statistikhooks.ifname = cn_connectionname;
    cn_statistikhooks.setifname = cn_setconnectionname;
    cn_statistikhooks.linkcom = [](int code) { return (long)cm_linkcom(code, nullptr); };
    cn_statistikhooks.trayicon = [](int art, const char* text) { ic_mshow(art, 0, 0, 0, 0, text); };
    cn_statistikhooks.anzeigen = cc_show;
    cn_statistikhooks.dnsecho = iz_dnsecho;
    cn_statistikhooks.ipok = iz_ipok;
    cn_dialuphooks.ifaktiv = [] { return cn_ifstatistics(nullptr, nullptr, nullptr) == 1; };
    cn_dialuphooks.statistikreset = cn_statistikreset;
    cn_dialuphooks.volzeitrunden = volzeitrunden;
    ps_hooks.windowshow = [](int form) {
        std::atomic_ref<int>(fefo).store(form);
        cc_show();
    };
    if (!gm_init(&argc, &argv)) {
        fprintf(stderr,
                "tandor: no display: cannot open the X display%s%s. Start tandor inside "
                "a desktop session (or under Xvfb).\n",
                getenv("DISPLAY") ? " " : "", getenv("DISPLAY") ? getenv("DISPLAY") : "");
        exit(1);
    }

    char dir[300];
    st_workdir(argv[0], g_get_home_dir(), dir, sizeof dir);
    if (dir[0] && chdir(dir) != 0) {
        // chdir failures leave the inherited directory.
    }
    st_dirarguments(argc, argv);
    srand((unsigned)time(nullptr));

    inidat.funktion = 0;
    st_keywords(argc, argv);
    inidat.funktion = st_funktion(argc, argv);

    if (!cs_nosplash) cs_show(1);
    memset(cc_mtext, 0, sizeof cc_mtext);
    if (!(argc > 1 && strcmp(argv[1], "SMSCONFIGSUB") == 0)) cs_show(1);

    sc_connect();

    th_createx(mt_gtkthread, nullptr, 1000000);
    th_createx(mt_mainthread, nullptr, 1000000);
    th_create(wa_warningthread, nullptr);
    th_create(sm_msgthread, nullptr);

    // The initial thread takes no further part but for writing the line of a received
    // signal, which the handler itself may not do.
    for (;;) {
        st_signallog();
        g_usleep(200000);
    }
}
