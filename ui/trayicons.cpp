#include "ui/trayicons.h"

#include "core/helpers.h"
#include "core/programstate.h"
#include "core/threads.h"
#include "ui/iconpainting.h"
#include "ui/mainwindow.h"

#include <X11/Xlib.h>
#include <cstdio>
#include <cstring>
#include <gdk/gdkx.h>
#include <mutex>

std::atomic<const char*> ic_micon{""}, ic_wicon{""}, ic_ticon{""}, ic_hicon{""}, ic_bicon{""};
std::atomic<int> ic__mart{0}, ic__wart{0}, ic__hart{0}, ic__tart{0}, ic__bart{0};
char ic__mtext[150], ic__wtext[150], ic__htext[150], ic__ttext[150], ic__btext[150];

namespace {

// One tray icon: created on first need and kept until the process ends (kind 0 only hides
// it). Each show operation holds the icon's lock over its whole body, taken before the GTK
// lock; the pixels are painted outside the GTK lock.
struct ic__icon {
    ic__icon(const char* n, char* t) : name(n), tooltip(t) {}
    const char* name;
    char* tooltip; // ic__mtext ... ic__btext
    std::mutex mutex;
    GtkStatusIcon* gic = nullptr; // under the GTK lock
    std::atomic<bool> sichtbar{false};
    alignas(4) uint8_t px[IC_PXGROESSE] = {};
};
ic__icon ic__m{"tandor-main", ic__mtext}, ic__w{"tandor-warning", ic__wtext},
    ic__h{"tandor-homezone", ic__htext}, ic__t{"tandor-countdown", ic__ttext},
    ic__b{"tandor-battery", ic__btext};

// GTK lock held.
void ic__erzeugen(ic__icon& i) {
    if (i.gic) return;
    i.gic = gtk_status_icon_new();
    gtk_status_icon_set_visible(i.gic, FALSE);
    // The name becomes the class of the tray window, by which the desktop can tell the
    // icons apart.
    gtk_status_icon_set_name(i.gic, i.name);
    gtk_status_icon_set_title(i.gic, "tandor");
    g_signal_connect(i.gic, "activate", G_CALLBACK(ic__activate), nullptr);
    g_signal_connect(i.gic, "popup-menu", G_CALLBACK(ic__popupmenu), nullptr);
    if (i.tooltip[0]) gtk_status_icon_set_tooltip_text(i.gic, i.tooltip);
    i.sichtbar = false;
}

void ic__sichtbar(ic__icon& i, bool s) {
    if (i.gic && i.sichtbar != s) gtk_status_icon_set_visible(i.gic, s);
    i.sichtbar = s && i.gic;
}

// Hands the painted pixels to the icon and shows it. A pixbuf that cannot be made leaves
// the icon with its previous picture. The pixbuf copies the pixels; the icon keeps its own
// reference, so ours is given back at once and a replaced picture is freed.
void ic__bild(ic__icon& i) {
    th_enter();
    ic__erzeugen(i);
    GBytes* b = g_bytes_new(i.px, IC_PXGROESSE);
    GdkPixbuf* pb = gdk_pixbuf_new_from_bytes(b, GDK_COLORSPACE_RGB, TRUE, 8, IC_R, IC_R, IC_R * 4);
    g_bytes_unref(b);
    if (pb) {
        gtk_status_icon_set_from_pixbuf(i.gic, pb);
        g_object_unref(pb);
    }
    ic__sichtbar(i, true);
    th_leave();
}

void ic__verbergen(ic__icon& i) {
    th_enter();
    ic__sichtbar(i, false);
    th_leave();
}

// Stores and sets a tooltip when it changed; a null text leaves it. utf8: the text as GTK
// gets it (already converted).
void ic__tooltip(ic__icon& i, const char* utf8) {
    if (!utf8 || (utf8[0] == 0 && i.tooltip[0] == 0) || strcmp(utf8, i.tooltip) == 0) return;
    strmcpy(i.tooltip, utf8, 150);
    th_enter();
    if (i.gic) gtk_status_icon_set_tooltip_text(i.gic, i.tooltip);
    th_leave();
}

void ic__tooltiptext(ic__icon& i, const char* text) {
    if (!text) return;
    char u[150];
    cc_utf8(u, sizeof u, text);
    ic__tooltip(i, u);
}

// The last values the main icon was drawn with; under ic__m.mutex.
struct {
    int ba = 0, sig = 0, up = 0, down = 0;
    bool show = false;
    char text[150] = "";
} ic__malt;

const char* ic__kein(int) {
    return "";
}

const char* ic__homezonetext(int art) {
    switch (art) {
    case 1:
        return _de ? "tandor\nHomezone-Status unbekannt" : "tandor\nHomezone status unknown";
    case 2:
        return _de ? "tandor\nIn Homezone" : "tandor\nIn homezone";
    case 3:
        return _de ? "tandor\nNicht in Homezone" : "tandor\nNot in homezone";
    default:
        return "";
    }
}

// Common body of the two flashing icons: kind art (-1 advances the flashing of the
// flashing kind, the highest one), painted by malen; the flashing swaps two colours.
struct ic__blinker {
    ic__icon& icon;
    std::atomic<int>& artzeiger;
    std::atomic<const char*>& code;
    int hoechste;
    uint32_t farbe1, farbe2;
    void (*malen)(uint8_t*, int);
    const char* (*codetext)(int, bool);
    const char* (*standardtext)(int); // tooltip of a kind given with an empty text
    bool flash = false;

    void zeigen(int art, const char* text) {
        std::lock_guard<std::mutex> g(icon.mutex);
        if (art < -1 || art > hoechste) art = 0;
        int alt = artzeiger;
        bool aendern = art == -1 ? alt == hoechste : art != alt;
        if (aendern) {
            int neu = art == -1 ? alt : art;
            if (neu == 0)
                ic__verbergen(icon);
            else {
                if (art == -1)
                    ic_tauschen(icon.px, farbe1, farbe2);
                else
                    malen(icon.px, neu);
                ic__bild(icon);
            }
            if (art == -1) {
                code = codetext(alt, flash);
                flash = !flash;
            } else {
                artzeiger = art;
                code = codetext(art, false);
                flash = false;
            }
        }
        if (text && art > 0 && text[0] == 0) text = standardtext(art);
        ic__tooltiptext(icon, text);
    }
};

ic__blinker ic__warnung{ic__w,
                        ic__wart,
                        ic_wicon,
                        2,
                        IC_DUNKELGELB,
                        IC_GELB,
                        [](uint8_t* px, int) { ic_malen_warnung(px); },
                        ic_code_warnung,
                        ic__kein};
ic__blinker ic__homezone{ic__h,           ic__hart, ic_hicon,          3,
                         IC_ROT,          IC_GELB,  ic_malen_homezone, ic_code_homezone,
                         ic__homezonetext};

int ic__form() {
    return std::atomic_ref<int>(fefo).load();
}

} // namespace

void ic_ini() {}

void ic_end() {
    ic_wshow(0, nullptr);
    ic_hshow(0, nullptr);
    ic_tshow(0, 0, nullptr);
    ic_bshow(0, nullptr);
}

void ic_mshow(int art, int ba, int sig, int up, int down, const char* text) {
    std::lock_guard<std::mutex> g(ic__m.mutex);
    auto& a = ic__malt;
    bool show = ic__form() == fefo_ICON;
    if (art == -1) {
        art = ic__mart;
        // Entering the icon form shows the icon at once: the kind last drawn, "not
        // connected" when there was none yet.
        if (show && !a.show && art == 0) {
            art = 2;
            if (!text && ic__m.tooltip[0] == 0) text = _de ? "Nicht verbunden." : "Not connected.";
        }
    }
    if (ba == -1) ba = a.ba;
    if (sig == -1) sig = a.sig;
    if (up == -1) up = a.up;
    if (down == -1) down = a.down;
    if (art < 0 || art > 5) art = 0;
    sig = bereich(sig, 0, 100);
    if (up < 0) up = 0;
    if (down < 0) down = 0;
    bool ziffern = inidat.icon > 1;
    bool aendern = art != ic__mart || ba != a.ba || sig != a.sig || show != a.show ||
                   (ziffern && (up != a.up || down != a.down));
    if (aendern) {
        ic__mart = art;
        a.ba = ba, a.sig = sig, a.up = up, a.down = down, a.show = show;
        ic_micon = ic_code_haupt(art);
        if (!show)
            ic__verbergen(ic__m);
        else if (art == 0) {
            // Kind 0 in the icon form: the icon exists, hidden.
            th_enter();
            ic__erzeugen(ic__m);
            ic__sichtbar(ic__m, false);
            th_leave();
        } else {
            ic_malen_haupt(ic__m.px, art, ba, sig, up, down, inidat.icon);
            ic__bild(ic__m);
        }
    }
    // The tooltip is compared unedited; it shows the mini text with its break marks edited.
    if (text && (text[0] || a.text[0]) && strcmp(text, a.text) != 0) {
        strMcpy(a.text, text);
        char e[150];
        cc_minitext(e, sizeof e, text);
        ic__tooltiptext(ic__m, e);
    }
}

void ic_wshow(int art, const char* text) {
    ic__warnung.zeigen(art, text);
}

void ic_hshow(int art, const char* text) {
    ic__homezone.zeigen(art, text);
}

void ic_tshow(int art, unsigned long val, const char* text) {
    static unsigned long val_alt = 0;
    std::lock_guard<std::mutex> g(ic__t.mutex);
    if (art < 0 || art > 3) art = 0;
    if (val > 0x80000000UL) val = 0;
    if (text && art > 0 && text[0] == 0) text = _de ? "tandor\nCountdown" : "tandor\ncountdown";
    if (art != ic__tart || val != val_alt) {
        if (art == 0)
            ic__verbergen(ic__t);
        else {
            ic_malen_countdown(ic__t.px, art, val);
            ic__bild(ic__t);
        }
        ic__tart = art;
        val_alt = val;
        // The code is written into the buffer not in use and then published, so the title
        // never reads a half-written text.
        static char ict[2][30];
        static int welcher = 0;
        welcher ^= 1;
        ic_code_countdown(ict[welcher], sizeof ict[welcher], art, val);
        ic_ticon = ict[welcher];
    }
    ic__tooltiptext(ic__t, text);
}

void ic_bshow(int val, const char* text) {
    std::lock_guard<std::mutex> g(ic__b.mutex);
    val = bereich(val, 0, 100);
    if (!text) text = "";
    int art = ic_akkuart(val, inidat.batt1, inidat.batt2);
    char txt[60];
    if (art > 0 && text[0] == 0) {
        snprintf(txt, sizeof txt,
                 _de ? "tandor\nMobilteil-Akku %i%%" : "tandor\nMobile set battery %i%%", val);
        text = txt;
    }
    if (art != ic__bart) {
        if (art == 0)
            ic__verbergen(ic__b);
        else {
            ic_malen_akku(ic__b.px, art);
            ic__bild(ic__b);
        }
        ic__bart = art;
        ic_bicon = ic_code_akku(art);
    }
    ic__tooltiptext(ic__b, text);
}

// The window manager gives a left click to the tray as "activate" while the press is
// still under way; the short wait lets it finish, so the menu is not closed by its release.
void ic__activate(GtkStatusIcon*, gpointer) {
    th_leave();
    g_usleep(350000);
    th_enter();
    cc_menu();
}

void ic__popupmenu(GtkStatusIcon*, guint, guint, gpointer) {
    cc_menu();
}

bool ic_eingebettet() {
    return ic__m.gic && gtk_status_icon_is_embedded(ic__m.gic);
}

bool ic_trayhost() {
    GdkScreen* s = gdk_screen_get_default();
    if (!s) return false;
    GdkDisplay* d = gdk_screen_get_display(s);
    char name[40];
    snprintf(name, sizeof name, "_NET_SYSTEM_TRAY_S%d", gdk_screen_get_number(s));
    Atom a = gdk_x11_get_xatom_by_name_for_display(d, name);
    return XGetSelectionOwner(GDK_DISPLAY_XDISPLAY(d), a) != None;
}

void ic_neudocken() {
    if (!ic__m.gic || !ic__m.sichtbar) return;
    gtk_status_icon_set_visible(ic__m.gic, FALSE);
    gtk_status_icon_set_visible(ic__m.gic, TRUE);
}
