#include "supervisor/sessionclient.h"

#include "core/programstate.h"

#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pwd.h>
#include <unistd.h>

namespace {

// libSM/libICE are not thread-safe: every call on the connection runs under this lock. The
// libSM callbacks run inside IceProcessMessages, which is called with it held.
std::mutex sc__mutex;
SmcConn sc__conn = nullptr;
GSource* sc__watch = nullptr;

bool sc__saving = false;       // a save-yourself is not answered yet
bool sc__requested = false;    // an interaction was asked for and not granted yet
bool sc__ending = false;       // the program end has passed sc_returninteraction
bool sc__closepending = false; // Die: close once the current message is processed
int sc__keyzaehler = 0;
int shutdowninteractionkey = 0;

// The session asked for the program end. A rest that starts at the same moment clears
// programmende_gewuenscht; the held logout would then wait for an end that never comes, so
// a timer sets the request again once the program is active.
std::atomic<bool> sc__sessionende{false};
std::atomic<bool> sc__erinnerung{false};

gboolean sc__erinnern(gpointer) {
    if (!sc__sessionende) {
        sc__erinnerung = false;
        return G_SOURCE_REMOVE;
    }
    if (ruhestatus == 0 && !programmende_gewuenscht) ps_endeanfordern();
    return G_SOURCE_CONTINUE;
}

// Answers the pending save-yourself; a held interaction is given back first, without
// cancelling the shutdown. Lock held.
void sc__antworten(SmcConn conn) {
    if (shutdowninteractionkeyvalid) {
        shutdowninteractionkeyvalid = false;
        SmcInteractDone(conn, False);
    }
    if (sc__saving) {
        sc__saving = false;
        sc__requested = false;
        SmcSaveYourselfDone(conn, True);
    }
    IceFlush(SmcGetIceConnection(conn));
}

void sc__interact(SmcConn conn, SmPointer data) {
    shutdowninteract(conn, ++sc__keyzaehler, SmDialogNormal, data);
    // Granted after the program end has already given everything back: answer at once.
    if (sc__ending) sc__antworten(conn);
}

void sc__saveyourself(SmcConn conn, SmPointer, int savetype, Bool shutdown, int style, Bool fast) {
    sc__saving = true;
    sc__requested = false;
    gboolean ok = shutdownproc(conn, 1, savetype, shutdown, style, fast, conn);
    // Without an interaction (the initial save, checkpoints, logouts that allow none) the
    // program has nothing to save and goes on running.
    if (!sc__requested) {
        sc__saving = false;
        SmcSaveYourselfDone(conn, ok);
    }
}

void sc__die(SmcConn, SmPointer) {
    ps_endeanfordern();
    sc__closepending = true;
}

void sc__shutdowncancelled(SmcConn conn, SmPointer) {
    // The logout no longer waits; the program end already under way is not taken back.
    sc__sessionende = false;
    sc__antworten(conn);
}

void sc__savecomplete(SmcConn, SmPointer) {}

// The default handlers of libICE and libSM end the process; a lost or confused session
// manager must not cost the program its orderly end.
void sc__ioerror(IceConn) {}
void sc__iceerror(IceConn, Bool, int, unsigned long, int, int, IcePointer) {}
void sc__smcerror(SmcConn, Bool, int, unsigned long, int, int, SmPointer) {}

// Lock held.
void sc__schliessen() {
    if (!sc__conn) return;
    SmcCloseConnection(sc__conn, 0, nullptr);
    sc__conn = nullptr;
    shutdowninteractionkeyvalid = false;
    sc__saving = sc__requested = sc__closepending = false;
}

gboolean sc__lesen(GIOChannel*, GIOCondition, gpointer) {
    std::lock_guard<std::mutex> lock(sc__mutex);
    if (!sc__conn) return G_SOURCE_REMOVE;
    IceProcessMessagesStatus st =
        IceProcessMessages(SmcGetIceConnection(sc__conn), nullptr, nullptr);
    if (st == IceProcessMessagesSuccess && !sc__closepending) return G_SOURCE_CONTINUE;
    if (st == IceProcessMessagesConnectionClosed) {
        // libICE has freed the connection itself.
        sc__conn = nullptr;
        shutdowninteractionkeyvalid = false;
    } else {
        sc__schliessen();
    }
    return G_SOURCE_REMOVE;
}

void sc__watchentfernen() {
    if (!sc__watch) return;
    g_source_destroy(sc__watch);
    g_source_unref(sc__watch);
    sc__watch = nullptr;
}

SmPropValue sc__wert(const char* s) {
    return SmPropValue{(int)strlen(s), (SmPointer)s};
}

// The few properties a session manager needs to list and restart the program.
void sc__eigenschaften(SmcConn conn) {
    static char nProgram[] = SmProgram, nUser[] = SmUserID, nDir[] = SmCurrentDirectory,
                nRestart[] = SmRestartCommand, nClone[] = SmCloneCommand,
                nHint[] = SmRestartStyleHint;
    static char tArray[] = SmARRAY8, tList[] = SmLISTofARRAY8, tCard[] = SmCARD8;

    SmPropValue program = sc__wert("tandor");
    char benutzer[64] = "";
    struct passwd pw, *ppw = nullptr;
    char pwbuf[1024];
    if (getpwuid_r(getuid(), &pw, pwbuf, sizeof pwbuf, &ppw) == 0 && ppw)
        snprintf(benutzer, sizeof benutzer, "%s", ppw->pw_name);
    SmPropValue user = sc__wert(benutzer);
    char verzeichnis[512] = "";
    if (!getcwd(verzeichnis, sizeof verzeichnis)) verzeichnis[0] = 0;
    SmPropValue dir = sc__wert(verzeichnis);
    unsigned char hint = SmRestartIfRunning;
    SmPropValue hintwert{1, &hint};

    enum { MAXARGS = 32 };
    SmPropValue befehl[MAXARGS];
    int n = 0;
    for (int i = 0; _argv && i < _argc && _argv[i] && n < MAXARGS; i++)
        befehl[n++] = sc__wert(_argv[i]);
    if (n == 0) befehl[n++] = sc__wert("tandor");

    SmProp p[] = {
        {nProgram, tArray, 1, &program}, {nUser, tArray, 1, &user},    {nRestart, tList, n, befehl},
        {nClone, tList, n, befehl},      {nHint, tCard, 1, &hintwert}, {nDir, tArray, 1, &dir},
    };
    SmProp* pp[] = {&p[0], &p[1], &p[2], &p[3], &p[4], &p[5]};
    int anzahl = verzeichnis[0] ? 6 : 5;
    SmcSetProperties(conn, anzahl, pp);
}

} // namespace

bool sc_connect() {
    std::lock_guard<std::mutex> lock(sc__mutex);
    if (sc__conn) return true;
    IceSetIOErrorHandler(sc__ioerror);
    IceSetErrorHandler(sc__iceerror);
    SmcSetErrorHandler(sc__smcerror);

    SmcCallbacks cb;
    memset(&cb, 0, sizeof cb);
    cb.save_yourself.callback = sc__saveyourself;
    cb.die.callback = sc__die;
    cb.save_complete.callback = sc__savecomplete;
    cb.shutdown_cancelled.callback = sc__shutdowncancelled;
    char fehler[256] = "";
    char* clientid = nullptr;
    // A null network id list makes libSM read the session manager's address from the
    // desktop session; without one it fails, and the program runs without.
    SmcConn conn = SmcOpenConnection(nullptr, nullptr, SmProtoMajor, SmProtoMinor,
                                     SmcSaveYourselfProcMask | SmcDieProcMask |
                                         SmcSaveCompleteProcMask | SmcShutdownCancelledProcMask,
                                     &cb, nullptr, &clientid, sizeof fehler, fehler);
    free(clientid);
    if (!conn) return false;

    sc__conn = conn;
    sc__saving = sc__requested = sc__ending = sc__closepending = false;
    shutdowninteractionkeyvalid = false;
    sc__sessionende = false;
    sc__eigenschaften(conn);
    IceFlush(SmcGetIceConnection(conn));

    sc__watchentfernen();
    GIOChannel* kanal = g_io_channel_unix_new(IceConnectionNumber(SmcGetIceConnection(conn)));
    sc__watch = g_io_create_watch(kanal, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR));
    g_source_set_callback(sc__watch, G_SOURCE_FUNC(sc__lesen), nullptr, nullptr);
    g_source_attach(sc__watch, nullptr);
    g_io_channel_unref(kanal);
    return true;
}

void sc_close() {
    std::lock_guard<std::mutex> lock(sc__mutex);
    sc__watchentfernen();
    sc__schliessen();
}

gboolean shutdownproc(void* client, int, int, gboolean shutd, int ias, gboolean, gpointer par) {
    if (par && shutd && ias == SmInteractStyleAny) {
        if (SmcInteractRequest((SmcConn)client, SmDialogNormal, sc__interact, nullptr))
            sc__requested = true;
        ps_endeanfordern();
        sc__sessionende = true;
        if (!sc__erinnerung.exchange(true)) g_timeout_add(1000, sc__erinnern, nullptr);
    }
    return TRUE;
}

void shutdowninteract(void*, int key, int, gpointer) {
    shutdowninteractionkey = key;
    shutdowninteractionkeyvalid = true;
    sc__requested = false;
}

void sc_returninteraction() {
    std::lock_guard<std::mutex> lock(sc__mutex);
    sc__ending = true;
    sc__sessionende = false;
    if (sc__conn && shutdowninteractionkeyvalid) sc__antworten(sc__conn);
}

bool sc_interactionheld() {
    return shutdowninteractionkeyvalid;
}
