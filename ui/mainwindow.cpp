#include "ui/mainwindow.h"

#include "config/inifile.h"
#include "core/frontendrecord.h"
#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/system.h"
#include "core/threads.h"
#include "ui/iconpainting.h"
#include "ui/messagebox.h"
#include "ui/splash.h"
#include "ui/trayicons.h"

#include <atomic>
#include <cctype>
#include <cstring>
#include <mutex>
#include <unistd.h>

#define CC_PROGRAMM "tandor 0.5"
#define CC_WEBADRESSE "http://tandor.example"

char cc_mtext[cc_mtextFELD][150];
int fefo = fefo_OHNE;
GtkWidget* mainwindow = nullptr;

namespace {

// Serialises cc_show (form changes above all): always taken before the GTK lock, so two
// threads never build or destroy the window at the same time.
std::mutex cc__mutex;

std::atomic<bool> cc__maximized{false};
std::atomic<bool> cc__wantnormal{false};
// The icon form without a tray host: the mini window stands in for the icon until a host
// embeds it. fefo stays fefo_ICON, so the header keeps the user's form.
std::atomic<bool> cc__ersatz{false};
long long cc__ikonseit = 0; // when the icon was last embedded (or the form entered); timer tick
long long cc__neugedockt = 0;
gulong cc__minmaxhandler = 0;
struct {
    std::atomic<int> form{0}; // mini form to go back to after a left click, 0 none
} cc__normalize;
// The form built last (window or tray icon). Written under the GTK lock with the window,
// so that handlers see both consistent.
std::atomic<int> fefo_alt{fefo_OHNE};

// Widgets of the current window; under the GTK lock.
GtkWidget* wf[8];
GtkWidget* wmini;
GtkWidget* cc__menue;
GdkPixbuf* cc__gpb;

// What the window shows now; under cc__mutex.
char mt[cc_mtextFELD][150];
char mtm[152];
char mtw[120];
bool o_old;

int cc__fefo() {
    return std::atomic_ref<int>(fefo).load();
}
void cc__setfefo(int f) {
    std::atomic_ref<int>(fefo).store(f);
}
bool cc__fenster(int f) {
    return f == fefo_NORMAL || f == fefo_MINI || f == fefo_MINI2;
}
bool cc__frontendmodus() {
    return inidat.funktion == FUNKTION_CONTROL;
}

// Publishes the shown texts into the frontend record when one changed or an icon state
// did; the change counter follows the texts, so a reader that sees it finds them.
void cc__frontend(bool geaendert) {
    tdrio_t* r = __atomic_load_n(&tdriow, __ATOMIC_ACQUIRE);
    if (!r) return;
    bool neu = tdrioneu.exchange(false);
    if (!geaendert && !neu) return;
    ii_textsetzen(r->message, sizeof r->message, mt[1]);
    ii_textsetzen(r->error_message, sizeof r->error_message, cc_mtext[cc_mtextERR]);
    ii_textsetzen(r->mini_message, sizeof r->mini_message, mt[cc_mtextMINI]);
    unsigned long n = __atomic_load_n(&r->process_counter, __ATOMIC_RELAXED) + 1;
    // 0 means "not active"; the creator's end may have set it meanwhile.
    if (n == 1 || __atomic_load_n(&tdriow, __ATOMIC_ACQUIRE) != r) return;
    ii_zaehlersetzen(r, n);
}
// The control program's view of the running copy's record: attached, the copy online, a
// command still waiting in the field. The menu runs with the GTK lock held, and the control
// loop detaches the record only under that lock, so the record stays mapped meanwhile.
struct cc__frontendlage {
    bool da = false, online = false, kommandooffen = false;
};
cc__frontendlage cc__frontendzustand() {
    cc__frontendlage l;
    tdrio_t* r = __atomic_load_n(&tdrior, __ATOMIC_ACQUIRE);
    if (!r) return l;
    l.da = true;
    l.online = __atomic_load_n(&r->online_time, __ATOMIC_RELAXED) != 0;
    l.kommandooffen = __atomic_load_n(&r->command[0], __ATOMIC_RELAXED) != 0;
    return l;
}
// Writes a command into the record: 0 no record, 1 written, 2 no right to write it, 3 the
// field still holds a command (the running copy clears it once taken; it is not overwritten).
int cc__frontendkommando(const char* kommando) {
    tdrio_t* r = __atomic_load_n(&tdrior, __ATOMIC_ACQUIRE);
    if (!r) return 0;
    if (!tdrior_rw) return 2;
    if (__atomic_load_n(&r->command[0], __ATOMIC_ACQUIRE) != 0) return 3;
    size_t n = strnlen(kommando, sizeof r->command - 1);
    if (n == 0) return 0;
    // The rest with its NUL first and the first character last: a poll that sees the field
    // no longer empty finds the whole command.
    memcpy(r->command + 1, kommando + 1, n - 1);
    r->command[n] = 0;
    __atomic_store_n(&r->command[0], kommando[0], __ATOMIC_RELEASE);
    return 1;
}

void cc__anhaengen(char* out, size_t n, const char* s) {
    size_t l = strlen(out);
    if (l < n) strmcpy(out + l, s, n - l);
}

void cc__position(int* x, int* y) {
    if (mainwindow && x && y) gtk_window_get_position(GTK_WINDOW(mainwindow), x, y);
}

gboolean cc__closewindow(GtkWidget*, GdkEvent*, gpointer);
gboolean cc__minmaximize(GtkWidget*, GdkEventWindowState*, gpointer);
gboolean cc__mouseclick(GtkWidget*, GdkEventButton*, gpointer);
gboolean cc__focusout(GtkWidget*, GdkEventFocus*, gpointer);
gboolean cc__key(GtkWidget*, GdkEventKey*, gpointer);

// The window may also be destroyed by GTK itself (a close at the program end).
void cc__destroyed(GtkWidget* w, gpointer) {
    if (w != mainwindow) return;
    mainwindow = nullptr;
    for (auto& f : wf)
        f = nullptr;
    wmini = nullptr;
}

GtkWidget* cc__feld(GtkWidget* box, int breite) {
    GtkWidget* e = gtk_entry_new();
    gtk_editable_set_editable(GTK_EDITABLE(e), FALSE);
    gtk_widget_set_can_focus(e, FALSE);
    gtk_widget_set_size_request(e, breite, -1);
    gtk_box_pack_start(GTK_BOX(box), e, FALSE, FALSE, 0);
    gtk_widget_add_events(e, GDK_BUTTON_PRESS_MASK);
    g_signal_connect(e, "button-press-event", G_CALLBACK(cc__mouseclick), nullptr);
    return e;
}

GtkWidget* cc__beschriftung(GtkWidget* box, const char* text) {
    GtkWidget* l = gtk_label_new(text);
    gtk_widget_set_size_request(l, 50, -1);
    gtk_box_pack_start(GTK_BOX(box), l, FALSE, FALSE, 0);
    return l;
}

// A top-level window at the position kept for the header. Under the GTK lock.
GtkWidget* cc__fenster() {
    GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(w), CC_PROGRAMM);
    gtk_window_move(GTK_WINDOW(w), inidat.headerx_neu, inidat.headery_neu);
    return w;
}

// Under the GTK lock.
GtkWidget* cc__baunormal() {
    GtkWidget* w = cc__fenster();
    gtk_window_set_resizable(GTK_WINDOW(w), FALSE);
    gtk_window_deiconify(GTK_WINDOW(w));
    if (MODUS('T')) {
        gtk_window_set_keep_above(GTK_WINDOW(w), TRUE);
        gtk_window_set_skip_taskbar_hint(GTK_WINDOW(w), TRUE);
    }
    GtkWidget* vbox = gtk_vbox_new(TRUE, 1);
    gtk_container_add(GTK_CONTAINER(w), vbox);
    wf[1] = cc__feld(vbox, 326);
    GtkWidget* zeile2 = gtk_hbox_new(FALSE, 1);
    gtk_box_pack_start(GTK_BOX(vbox), zeile2, FALSE, FALSE, 0);
    wf[2] = cc__feld(zeile2, 63);
    wf[3] = cc__feld(zeile2, 120);
    cc__beschriftung(zeile2, "   up");
    wf[4] = cc__feld(zeile2, 88);
    GtkWidget* zeile3 = gtk_hbox_new(FALSE, 1);
    gtk_box_pack_start(GTK_BOX(vbox), zeile3, FALSE, FALSE, 0);
    wf[7] = cc__feld(zeile3, 63);
    wf[6] = cc__feld(zeile3, 120);
    cc__beschriftung(zeile3, "down");
    wf[5] = cc__feld(zeile3, 88);
    return w;
}

// Under the GTK lock. The label keeps the window 174 px wide; longer text is cut off.
GtkWidget* cc__baumini() {
    GtkWidget* w = cc__fenster();
    gtk_window_set_decorated(GTK_WINDOW(w), FALSE);
    gtk_window_set_keep_above(GTK_WINDOW(w), TRUE);
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(w), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(w), FALSE);
    wmini = gtk_label_new("");
    gtk_misc_set_alignment(GTK_MISC(wmini), 0, 0.5);
    gtk_widget_set_size_request(wmini, 174, -1);
    gtk_container_add(GTK_CONTAINER(w), wmini);
    return w;
}

// cc__mutex held, GTK lock not held.
void cc__formwechsel(int neu) {
    for (auto& t : mt)
        strMcpy(t, "0");
    mtw[0] = 0;
    int alt = fefo_alt;
    if (cc__fenster(alt)) {
        th_enter();
        if (mainwindow) {
            cc__position(&inidat.headerx_neu, &inidat.headery_neu);
            GtkWidget* w = mainwindow;
            cc__destroyed(w, nullptr);
            gtk_widget_destroy(w);
        }
        cc__maximized = false;
        th_leave();
    }
    // The tray icon follows the form by itself: shown in the icon form (also when the
    // mini window stands in for a missing tray host), hidden in every other.
    ic_mshow(-1, -1, -1, -1, -1, nullptr);

    th_enter();
    GtkWidget* w = nullptr;
    if (neu == fefo_NORMAL)
        w = cc__baunormal();
    else if (neu == fefo_MINI || neu == fefo_MINI2)
        w = cc__baumini();
    if (w) {
        g_signal_connect(w, "delete-event", G_CALLBACK(cc__closewindow), nullptr);
        g_signal_connect(w, "destroy", G_CALLBACK(cc__destroyed), nullptr);
        cc__minmaxhandler =
            g_signal_connect(w, "window-state-event", G_CALLBACK(cc__minmaximize), nullptr);
        gint maske = GDK_BUTTON_PRESS_MASK | GDK_KEY_PRESS_MASK;
        if (neu == fefo_NORMAL) maske |= GDK_FOCUS_CHANGE_MASK;
        gtk_widget_add_events(w, maske);
        g_signal_connect(w, "button-press-event", G_CALLBACK(cc__mouseclick), nullptr);
        g_signal_connect(w, "key-press-event", G_CALLBACK(cc__key), nullptr);
        if (neu == fefo_NORMAL)
            g_signal_connect(w, "focus-out-event", G_CALLBACK(cc__focusout), nullptr);
        mainwindow = w;
        me_setparent(w);
        gtk_widget_show_all(w);
    }
    fefo_alt = neu;
    th_leave();
    cc_seticon();
}

// Copy of a status line as found; an empty one is a blank, a '0' marker (not yet set)
// becomes a blank where asked.
void cc__holen(char (&out)[150], const char* quelle, bool nullweg) {
    strMcpy(out, quelle);
    if (out[0] == 0) strMcpy(out, " ");
    if (nullweg && out[0] == '0') out[0] = ' ';
}

bool cc__fehlertext() {
    return cc_mtext[cc_mtextERR][0] != 0 && cc_mtext[cc_mtextERR][1] != 0;
}

GdkPixbuf* cc__iconzeichnen() {
    uint8_t px[IC_PXGROESSE];
    ic_malen_fenster(px);
    GBytes* b = g_bytes_new(px, sizeof px);
    GdkPixbuf* pb = gdk_pixbuf_new_from_bytes(b, GDK_COLORSPACE_RGB, TRUE, 8, IC_R, IC_R, IC_R * 4);
    g_bytes_unref(b);
    return pb;
}

// ---- Menu ----

enum { CC_KEIN = 0, CC_CHECK = 1, CC_RADIO = 2 };

GtkWidget* cc__eintrag(GtkWidget* menu, const char* text, int code, bool aus, int art = CC_KEIN,
                       bool aktiv = false);
void cc__trenner(GtkWidget* menu) {
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
}

void cc__select(GtkMenuItem*, gpointer code);

GtkWidget* cc__eintrag(GtkWidget* menu, const char* text, int code, bool aus, int art, bool aktiv) {
    GtkWidget* e;
    if (art == CC_KEIN)
        e = gtk_menu_item_new_with_label(text);
    else {
        e = gtk_check_menu_item_new_with_label(text);
        // Set before the handler is connected: setting it emits "activate".
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(e), aktiv);
        if (art == CC_RADIO) gtk_check_menu_item_set_draw_as_radio(GTK_CHECK_MENU_ITEM(e), TRUE);
    }
    if (aus) gtk_widget_set_sensitive(e, FALSE);
    if (code) g_signal_connect(e, "activate", G_CALLBACK(cc__select), GINT_TO_POINTER(code));
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), e);
    return e;
}

// Code 11 shows its status text and waits before it raises the request, so that the text
// is up before the main thread starts the query; that wait runs here, not in GTK.
gpointer cc__updateanfrage(gpointer) {
    cc_show2(_de ? "+Starte Update-Anfrage." : "+Starting update query.",
             _de ? "+Update-\\Anfrage." : "+Update_query.");
    sy_sleepms(100);
    update_gewuenscht = true;
    return nullptr;
}

bool cc__argument(const char* a, const char* wort) {
    return a && g_ascii_strncasecmp(a, wort, strlen(wort)) == 0;
}

// The file "tandor" beside this program file. Never this copy's own name: a copy named
// after a mode would start another connection program instead of the configuration.
bool cc__konfigprogramm(char (&pfad)[300]) {
    pfad[0] = 0;
    const char* a0 = _argv && _argc > 0 && _argv[0] ? _argv[0] : "";
    if (strchr(a0, '/'))
        strMcpy(pfad, a0);
    else if (a0[0]) {
        gchar* p = g_find_program_in_path(a0);
        if (p) strMcpy(pfad, p);
        g_free(p);
    }
    char* slash = strrchr(pfad, '/');
    if (!slash || (size_t)(slash - pfad) + 1 + 6 >= sizeof pfad) return false;
    strmcpy(slash + 1, "tandor", sizeof pfad - (size_t)(slash + 1 - pfad));
    return file_exists(pfad);
}

} // namespace

bool cc_konfigurationstarten(const char* funktion) {
    char pfad[300];
    if (!cc__konfigprogramm(pfad)) {
        lo_slog("Configuration program not found: %s\n", pfad, -1);
        return false;
    }
    const char* argv[40];
    int n = 0;
    argv[n++] = pfad;
    argv[n++] = funktion;
    for (int i = 1; i < _argc && n < 39; i++)
        if (cc__argument(_argv[i], "DIR=") || cc__argument(_argv[i], "INSTANCE"))
            argv[n++] = _argv[i];
    argv[n] = nullptr;
    GError* err = nullptr;
    bool ok = g_spawn_async(nullptr, (gchar**)argv, nullptr, (GSpawnFlags)0, nullptr, nullptr,
                            nullptr, &err);
    if (!ok) {
        lo_slog("Configuration program not started: %s\n", err ? err->message : "", -1);
        g_clear_error(&err);
    }
    return ok;
}

namespace {

// Both CONTROL boxes inform: me_messageboxa shows its information icon for 0 (any other
// value is a warning) and does not keep the menu handler waiting.
void cc__accesswarning() {
    me_messageboxa(0, "tandor   CONTROL info",
                   _de ? "Diese Funktion ist zur Zeit nicht verfügbar.  \n"
                         "Sie haben nicht die nötigen Zugriffsrechte.  \n"
                         "Bitte wenden Sie sich an Ihren Administrator  \n"
                         "und lassen Sie ihn/sie eintragen: IPC=Domain\\User  "
                       : "This function is not available at present.  \n"
                         "You do not have sufficient access rights.  \n"
                         "Please contact your administrator and let  \n"
                         "him/her add: IPC=Domain\\User  ",
                   0);
}

void cc__frontendsenden(const char* kommando) {
    if (cc__frontendkommando(kommando) == 2) cc__accesswarning();
}

// A form switch from a handler: cc_show takes the GTK lock itself.
void cc__formsetzen(int f) {
    cc__setfefo(f);
    th_leave();
    cc_show();
    th_enter();
}

// Menu entries only set request flags (or switch the form); what waits runs elsewhere.
void cc__select(GtkMenuItem*, gpointer daten) {
    int code = GPOINTER_TO_INT(daten);
    bool frontend = cc__frontendmodus();
    switch (code) {
    case 11:
        if (!th_create(cc__updateanfrage, nullptr)) update_gewuenscht = true;
        break;
    case ')':
        prepaids[0] = 0;
        prepaid_gewuenscht = true;
        break;
    case '*':
        prepaidaufladen_gewuenscht = 1;
        break;
    case '+':
        prepaidaufladen_gewuenscht = 2;
        break;
    case '=':
    case '>':
    case '?':
    case '@':
    case 'E': {
        int ba = code == '=' ? 2 : code == '>' ? 4 : code == '?' ? 3 : code == '@' ? 1 : 9;
        inidat.funktion = ba;
        ba_gewuenscht = ba;
        break;
    }
    case 'S':
        if (frontend)
            cc__frontendsenden("TANDOR_CONNECT");
        else if (inidat.constart) {
            // A one-time connection becomes permanent automatic connection.
            if (verbindeneinmal)
                verbindeneinmal = false;
            else
                inidat.constart = false;
        } else
            inidat.constart = true;
        ps_wecken();
        break;
    case 'R':
        if (frontend)
            cc__frontendsenden("TANDOR_DISCONNECT");
        else {
            inidat.constart = false;
            ps_unterbrechen(2);
        }
        break;
    case 'Q':
        if (onlinezeit != 0) ps_unterbrechen(2);
        if (!inidat.constart) {
            inidat.constart = true;
            verbindeneinmal = true;
        }
        ps_wecken();
        break;
    case 'Z':
        unterbrechung_gewuenscht = 0;
        ps_endeanfordern();
        break;
    case '\\':
        cc__formsetzen(fefo_NORMAL);
        break;
    case ']':
        cc__formsetzen(fefo_MINI);
        break;
    case '_':
        me_messageboxa(0, "tandor   CONTROL info",
                       _de ? "Dies ist nur die Benutzeroberfläche von tandor.  \n"
                             "Deshalb sind zur Zeit nicht alle Funktionen verfügbar.  \n"
                             "Bitte starten Sie gegebenenfalls das Hauptprogramm.  "
                           : "This is only the tandor user interface.  \n"
                             "Therefore not all functions are available at present.  \n"
                             "Please start the main program, if necessary.  ",
                       0);
        break;
    case '`':
        tonlos = !tonlos;
        break;
    case 'b':
        if (!cc_konfigurationstarten("CONFIG")) {
            strMcpy(cc_mtext[1], _de ? "*Konfigurationsprogramm \"tandor\" fehlt."
                                     : "*Configuration program \"tandor\" missing.");
            strMcpy(cc_mtext[cc_mtextMINI], _de ? "*tandor_fehlt." : "*tandor_missing.");
            th_leave();
            cc_show();
            th_enter();
        }
        break;
    default:
        break;
    }
}

// ---- Window handlers (GTK main loop, lock held) ----

gboolean cc__closewindow(GtkWidget* w, GdkEvent*, gpointer) {
    if (programmende_gewuenscht) return FALSE;
    int form = fefo_alt;
    if (form == fefo_NORMAL && inidat.endm == 2)
        gtk_window_iconify(GTK_WINDOW(w));
    else if (form != fefo_NORMAL || inidat.endm == 1 || shutdowninteractionkeyvalid) {
        th_leave();
        if (_de)
            cc_show2(" Beenden.", " Beenden.");
        else
            cc_show2(" Ending.", " Ending.");
        th_enter();
        ps_endeanfordern();
    } else
        me_messageboxa(1, _de ? "tandor   Ende" : "tandor   End",
                       _de ? "tandor beenden?  " : "Terminate tandor?  ", 0);
    return TRUE;
}

gboolean cc__minmaximize(GtkWidget* w, GdkEventWindowState* ev, gpointer) {
    if (!ev || ev->changed_mask == 0) return FALSE;
    if (ev->changed_mask & GDK_WINDOW_STATE_ICONIFIED) {
        if (ev->new_window_state & GDK_WINDOW_STATE_ICONIFIED) {
            int form = fefo_alt;
            if (form == fefo_MINI || form == fefo_MINI2) {
                // The timer tick brings the mini window back.
                cc__wantnormal = true;
                return TRUE;
            }
            if (form == fefo_NORMAL) {
                // The iconified window gives way to the tray icon.
                g_signal_handler_disconnect(w, cc__minmaxhandler);
                cc__formsetzen(fefo_ICON);
                return FALSE;
            }
        } else
            cc__wantnormal = false;
    }
    if (ev->changed_mask & GDK_WINDOW_STATE_MAXIMIZED)
        cc__maximized = (ev->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
    return FALSE;
}

gboolean cc__mouseclick(GtkWidget*, GdkEventButton* ev, gpointer) {
    if (!ev || ev->type != GDK_BUTTON_PRESS || (ev->button != 1 && ev->button != 3)) return FALSE;
    int form = fefo_alt;
    if (ev->button == 1 && form == fefo_NORMAL && cc__normalize.form) {
        int zurueck = cc__normalize.form.exchange(0);
        cc__formsetzen(zurueck);
        // The window the press was meant for is gone: nothing more may handle it.
        return TRUE;
    }
    if (ev->button == 1 && (form == fefo_MINI || form == fefo_MINI2)) {
        cc__normalize.form = form;
        cc__formsetzen(fefo_NORMAL);
        return TRUE;
    }
    cc_menu();
    return TRUE;
}

gboolean cc__focusout(GtkWidget*, GdkEventFocus*, gpointer) {
    if (fefo_alt == fefo_NORMAL) cc__normalize.form = 0;
    return FALSE;
}

// The windows have no keyboard shortcuts.
gboolean cc__key(GtkWidget*, GdkEventKey*, gpointer) {
    return FALSE;
}

} // namespace

// ---- Text rules ----

const char* cc_feldfarbe(char marker) {
    return marker == '*' ? "#ffaaaa" : marker == '+' ? "#ff66ff" : "#ffffff";
}

const char* cc_minifarbe(const char* t, bool online, bool gruengprs) {
    if (!t || !t[0]) return online ? "#0000ff" : "#000000";
    if (t[0] == '*') return "#ff0000";
    if (t[0] == '+') return "#bf00bf";
    if (!online) return "#000000";
    if (gruengprs && t[1] == 'G' && isdigit((unsigned char)t[2])) return "#007f00";
    return "#0000ff";
}

namespace {
// Edits the first break mark: '_' before '~' before '\'.
void cc__umbruch(char* out, size_t n, const char* text, const char* fuer_, const char* fuertilde,
                 const char* fuerbs) {
    if (n == 0) return;
    out[0] = 0;
    if (!text) return;
    const char* p = strchr(text, '_');
    const char* ersatz = fuer_;
    if (!p) p = strchr(text, '~'), ersatz = fuertilde;
    if (!p) p = strchr(text, '\\'), ersatz = fuerbs;
    if (!p) {
        strmcpy(out, text, n);
        return;
    }
    size_t vor = (size_t)(p - text);
    if (vor >= n) vor = n - 1;
    memcpy(out, text, vor);
    out[vor] = 0;
    cc__anhaengen(out, n, ersatz);
    cc__anhaengen(out, n, p + 1);
}
} // namespace

void cc_minitext(char* out, size_t n, const char* text) {
    cc__umbruch(out, n, text, " ", "", "");
}

void cc_minitext2(char* out, size_t n, const char* text) {
    cc__umbruch(out, n, text, "\n", "-\n", "\n");
}

void cc_minimarkup(char* out, size_t n, const char* farbe, const char* text) {
    static const char leer[] = "                                                                ";
    if (n == 0) return;
    out[0] = 0;
    cc__anhaengen(out, n, "<span foreground=\"#ffffff\" background=\"");
    cc__anhaengen(out, n, farbe ? farbe : "#000000");
    cc__anhaengen(out, n, "\"> ");
    // Every line is padded, so that the colour runs to the window's edge.
    const char* t = text ? text : "";
    for (;;) {
        const char* nl = strchr(t, '\n');
        gchar* e = g_markup_escape_text(t, nl ? (gssize)(nl - t) : -1);
        cc__anhaengen(out, n, e);
        g_free(e);
        cc__anhaengen(out, n, leer);
        if (!nl) break;
        cc__anhaengen(out, n, "\n ");
        t = nl + 1;
    }
    // A cut inside the text would leave broken markup: close the span whatever fits.
    size_t l = strlen(out), zu = strlen("</span>");
    if (l + zu >= n) return;
    cc__anhaengen(out, n, "</span>");
}

void cc_codes(char* out, size_t n, const char* const codes[5]) {
    if (n == 0) return;
    out[0] = 0;
    size_t grenze = n < 30 ? n : 30;
    for (int i = 0; i < 5; i++)
        if (codes[i] && codes[i][0]) {
            cc__anhaengen(out, grenze, "[");
            cc__anhaengen(out, grenze, codes[i]);
        }
}

void cc_titel(char* out, size_t n, const char* codes, const char* titel, const char* rem) {
    if (n == 0) return;
    out[0] = 0;
    size_t grenze = n < 120 ? n : 120;
    if (codes && codes[0]) {
        char c[30];
        strMcpy(c, codes);
        cc__anhaengen(out, grenze, c);
        cc__anhaengen(out, grenze, " ");
    }
    if (titel && titel[0]) {
        cc__anhaengen(out, grenze, titel);
        cc__anhaengen(out, grenze, " - ");
    } else if (rem && rem[0]) {
        cc__anhaengen(out, grenze, rem);
        cc__anhaengen(out, grenze, " - ");
    }
    cc__anhaengen(out, grenze, CC_PROGRAMM);
}

// ---- Public operations ----

void cc_utf8(char* out, size_t n, const char* in) {
    strmtoutf8(out, in ? in : "", n);
    const gchar* ende;
    while (!g_utf8_validate(out, -1, &ende))
        *(char*)ende = '?';
}

void cc_show() {
    bool splashweg = false;
    {
        std::lock_guard<std::mutex> g(cc__mutex);
        int form = cc__fefo();
        if (form < fefo_OHNE || form > fefo_ICON) form = fefo_OHNE;
        if (form == fefo_ICON && cc__ersatz) form = fefo_MINI;
        if (form != fefo_alt) cc__formwechsel(form);

        bool geaendert = false, alarm = false;
        char text[150];

        th_enter();
        bool normal = form == fefo_NORMAL && mainwindow;
        if (normal && MODUS('T')) {
            gtk_window_set_keep_above(GTK_WINDOW(mainwindow), TRUE);
            gtk_window_set_skip_taskbar_hint(GTK_WINDOW(mainwindow), TRUE);
        }
        for (int i = 1; i <= 7; i++) {
            bool fehler = i == 6 && cc__fehlertext();
            cc__holen(text, fehler ? cc_mtext[cc_mtextERR] : cc_mtext[i], i == 1 || fehler);
            if (strcmp(text, mt[i]) == 0) continue;
            char vorher = mt[i][0];
            strMcpy(mt[i], text);
            geaendert = true;
            if (text[0] == '*') alarm = true;
            if (normal && wf[i]) {
                char u[101];
                cc_utf8(u, sizeof u, text + 1);
                gtk_entry_set_text(GTK_ENTRY(wf[i]), u);
                if (text[0] != vorher) setcolor(wf[i], cc_feldfarbe(text[0]));
            }
        }
        th_leave();

        bool fehler = cc__fehlertext();
        cc__holen(text, fehler ? cc_mtext[cc_mtextERR] : cc_mtext[cc_mtextMINI], true);
        bool online = onlinezeit != 0;
        if (strcmp(text, mt[cc_mtextMINI]) != 0 || online != o_old) {
            strMcpy(mt[cc_mtextMINI], text);
            o_old = online;
            geaendert = true;
            if (text[0] == '*') alarm = true;
            cc_minitext(mtm, sizeof mtm, text);
            if (form == fefo_MINI || form == fefo_MINI2) {
                char zeilen[152], u[157], markup[1400];
                if (form == fefo_MINI2) cc_minitext2(zeilen, sizeof zeilen, text);
                cc_utf8(u, sizeof u, (form == fefo_MINI2 ? zeilen : mtm) + 1);
                const char* farbe = cc_minifarbe(mtm, online, MODUS('O'));
                cc_minimarkup(markup, sizeof markup, farbe, u);
                th_enter();
                if (wmini) {
                    gtk_label_set_markup(GTK_LABEL(wmini), markup);
                    setcolor(mainwindow, farbe);
                }
                th_leave();
            }
        }

        if (form == fefo_NORMAL) {
            const char* codes[5] = {ic_micon.load(), ic_wicon.load(), ic_ticon.load(),
                                    ic_hicon.load(), ic_bicon.load()};
            char c[30], titel[120];
            cc_codes(c, sizeof c, codes);
            cc_titel(titel, sizeof titel, c, inititel, inidat.rem);
            if (strcmp(titel, mtw) != 0) {
                strMcpy(mtw, titel);
                char u[360];
                cc_utf8(u, sizeof u, titel);
                th_enter();
                if (mainwindow) gtk_window_set_title(GTK_WINDOW(mainwindow), u);
                th_leave();
            }
        }

        cc__frontend(geaendert);
        splashweg = geaendert && alarm && form == fefo_OHNE;
    }
    // The splash window takes the GTK lock itself.
    if (splashweg) cs_show(0);
}

void cc_show1() {
    {
        std::lock_guard<std::mutex> g(cc__mutex);
        for (int i = 2; i <= 8; i++)
            strMcpy(cc_mtext[i], " ");
    }
    cc_show();
}

void cc_show2(const char* mtnormal, const char* mtmini) {
    {
        std::lock_guard<std::mutex> g(cc__mutex);
        for (int i = 2; i <= 8; i++)
            strMcpy(cc_mtext[i], " ");
        strMcpy(cc_mtext[1], mtnormal ? mtnormal : " ");
        strMcpy(cc_mtext[cc_mtextMINI], mtmini ? mtmini : " ");
    }
    cc_show();
}

void cc_quit() {
    th_enter();
    bool fensterlos = mainwindow == nullptr;
    th_leave();
    if (fensterlos && cc__fefo() != fefo_OHNE) {
        cc__setfefo(fefo_OHNE);
        cc_show();
    }
}

bool cc_maximized() {
    return cc__maximized;
}

void cc_getposition(int* x, int* y) {
    th_enter();
    cc__position(x, y);
    th_leave();
}

void cc_tick() {
    th_enter();
    if (!mainwindow)
        cc__wantnormal = false;
    else if (cc__wantnormal) {
        gtk_window_deiconify(GTK_WINDOW(mainwindow));
        gtk_window_set_keep_above(GTK_WINDOW(mainwindow), TRUE);
    }
    bool wechsel = false;
    long long jetzt = g_get_monotonic_time() / 1000;
    if (cc__fefo() != fefo_ICON) {
        cc__ikonseit = 0;
        wechsel = cc__ersatz.exchange(false);
    } else if (ic_eingebettet()) {
        cc__ikonseit = jetzt;
        wechsel = cc__ersatz.exchange(false);
    } else if (cc__ikonseit == 0)
        cc__ikonseit = jetzt;
    else if (!cc__ersatz && jetzt - cc__ikonseit >= 5000) {
        // No tray host shows the icon: the program must not become invisible.
        cc__ersatz = wechsel = true;
        lo_slog("No tray host embeds the icon: mini window shown instead.\n", "", -1);
    } else if (cc__ersatz && jetzt - cc__neugedockt >= 5000 && ic_trayhost()) {
        // A tray host appeared: dock the icon there; the next tick that finds it embedded
        // gives up the mini window.
        cc__neugedockt = jetzt;
        ic_neudocken();
    }
    th_leave();
    if (wechsel) cc_show();
}

void cc_seticon() {
    th_enter();
    if (mainwindow) {
        if (!cc__gpb) cc__gpb = cc__iconzeichnen();
        if (gtk_window_get_icon(GTK_WINDOW(mainwindow)) != cc__gpb)
            g_object_set(mainwindow, "icon", cc__gpb, NULL);
    }
    th_leave();
}

void cc_menu() {
    if (cc__menue) gtk_widget_destroy(cc__menue);
    GtkWidget* m = gtk_menu_new();
    cc__menue = m;
    bool frontend = cc__frontendmodus();
    cc__frontendlage fl = cc__frontendzustand();
    bool online = onlinezeit != 0;
    int form = fefo_alt;
    int fu = inidat.funktion;
    int ge = geraet;
    bool ba = ba_gewuenscht != 0;

    cc__eintrag(m, "*  " CC_PROGRAMM "  *", 0, true);
    bool updateaus = frontend ? (!fl.da || !fl.online || update_gewuenscht)
                              : (verbindenverboten || ba || update_gewuenscht);
    cc__eintrag(m, CC_WEBADRESSE "/update?", 11, updateaus);
    if (!frontend) {
        cc__trenner(m);
        bool prepaidaus = linksys || cm__singleport || verbindenverboten || prepaid_gewuenscht ||
                          prepaidaufladen_gewuenscht || ba;
        cc__eintrag(m, _de ? "Prepaid-Guthaben?" : "Prepaid-credit?", ')', prepaidaus);
        cc__eintrag(m, _de ? "Prepaid aufladen..." : "Load Prepaid...", '*', prepaidaus);
        cc__eintrag(m, _de ? "USSD-Code senden..." : "Send USSD code...", '+', prepaidaus);
        cc__trenner(m);
        cc__eintrag(m, _de ? "UMTS ausschließlich" : "UMTS only", '=', ba, CC_RADIO, fu == 2);
        cc__eintrag(m, _de ? "UMTS bevorzugt" : "UMTS preferred", '>', ba, CC_RADIO,
                    fu == 4 || (fu == 3 && ge == 2));
        cc__eintrag(m, _de ? "GPRS bevorzugt" : "GPRS preferred", '?',
                    ba || linksys || ge == 2 || ge == 5 || ge == 6, CC_RADIO, fu == 3 && ge != 2);
    }
    cc__eintrag(m, _de ? "GPRS ausschließlich" : "GPRS only", '@', ba, CC_RADIO, fu == 1);
    cc__eintrag(m, _de ? "Keine Betriebsartwahl" : "No opmode selection", 'E', ba, CC_RADIO,
                fu == 9);
    cc__trenner(m);
    if (frontend) {
        cc__eintrag(m, _de ? "Verbinden" : "Connect", 'S', !fl.da || fl.kommandooffen || fl.online,
                    CC_CHECK, false);
        cc__eintrag(m, _de ? "Trennen" : "Disconnect", 'R', !fl.da || !fl.online);
        cc__eintrag(m, _de ? "CONTROL-Info" : "CONTROL info", '_', false);
    } else {
        cc__eintrag(m, _de ? "Automatisch verbinden" : "Connect automatically", 'S', false,
                    CC_CHECK, inidat.constart && !verbindeneinmal);
        cc__eintrag(m, _de ? "Trennen" : "Disconnect", 'R', verbindenverboten || !online);
        const char* neu =
            online ? (_de ? "Neu verbinden" : "Reconnect") : (_de ? "Verbinden" : "Connect");
        cc__eintrag(m, neu, 'Q', !verbindenverboten && inidat.constart && !online);
    }
    cc__trenner(m);
    cc__eintrag(m, _de ? "Stumm" : "Mute", '`', false, CC_CHECK, tonlos);
    if (form == fefo_NORMAL)
        cc__eintrag(m, _de ? "Minifenster" : "Mini window", ']', false);
    else if (form != fefo_OHNE)
        cc__eintrag(m, _de ? "Normales Fenster" : "Regular window", '\\', false);
    if (frontend)
        cc__eintrag(m, _de ? "Ende" : "Exit", 'Z', false);
    else {
        cc__eintrag(m, _de ? "Konfiguration" : "Configuration", 'b', false);
        cc__eintrag(m, _de ? "Ende" : "Exit", 'Z', false);
    }
    gtk_widget_show_all(m);
    guint knopf = 0;
    if (GdkEvent* ev = gtk_get_current_event()) {
        if (ev->type == GDK_BUTTON_PRESS) knopf = ev->button.button;
        gdk_event_free(ev);
    }
    gtk_menu_popup(GTK_MENU(m), nullptr, nullptr, nullptr, nullptr, knopf,
                   gtk_get_current_event_time());
}

void setcolor(GtkWidget* w, const char* c) {
    GdkColor farbe;
    if (!w || !c || !gdk_color_parse(c, &farbe)) return;
    for (GtkStateType st : {GTK_STATE_NORMAL, GTK_STATE_ACTIVE, GTK_STATE_SELECTED}) {
        gtk_widget_modify_base(w, st, &farbe);
        gtk_widget_modify_bg(w, st, &farbe);
    }
}
