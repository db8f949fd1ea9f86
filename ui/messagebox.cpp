#include "ui/messagebox.h"

#include "core/helpers.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/threads.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>

struct me_dialog_t {
    // One hold for the caller, one for the window (dropped when the window is finalized,
    // after every handler connected to it or its children is gone).
    std::atomic<int> refs{1};
    std::mutex mu; // guards answered, answer and text
    std::condition_variable cv;
    bool answered = false;
    int answer = 0;
    int endanswer = 0;
    int timeoutanswer = -1;
    char text[50] = "";
    // Only touched with the GTK lock held.
    GtkWidget* window = nullptr;
    guint timeout = 0;
    guint ticker = 0;
};

namespace {

constexpr int me__TICKMS = 250; // how often a waiting dialog looks for the program end

GtkWidget* me__parentwidget = nullptr; // GTK lock
gulong me__parenthandler = 0;

bool me__endrequested() {
    return th_queryterminate() || programmende_gewuenscht;
}

void me__unref(me_dialog_t* d) {
    if (d->refs.fetch_sub(1) == 1) delete d;
}

void me__unrefnotify(gpointer p) {
    me__unref((me_dialog_t*)p);
}

// Records the answer unless one was recorded; true when this one counted.
bool me__give(me_dialog_t* d, int answer) {
    bool first = false;
    {
        std::lock_guard<std::mutex> g(d->mu);
        if (!d->answered) {
            d->answered = true;
            d->answer = answer;
            first = true;
        }
    }
    d->cv.notify_all();
    return first;
}

void me__destroyed(GtkWidget* w, gpointer p) {
    auto* d = (me_dialog_t*)p;
    if (d->window != w) return;
    if (d->timeout) g_source_remove(d->timeout);
    if (d->ticker) g_source_remove(d->ticker);
    d->timeout = d->ticker = 0;
    d->window = nullptr;
    me__give(d, 0);
}

gboolean me__timeout(gpointer p) {
    auto* d = (me_dialog_t*)p;
    d->timeout = 0;
    me_dialoganswer(d, d->timeoutanswer);
    return FALSE;
}

// Also wakes a nested loop of the caller so that it sees the end flags.
gboolean me__tick(gpointer p) {
    auto* d = (me_dialog_t*)p;
    if (!me__endrequested()) return TRUE;
    d->ticker = 0;
    me_dialoganswer(d, d->endanswer);
    return FALSE;
}

void me__parentdestroyed(GtkWidget* w, gpointer) {
    if (w != me__parentwidget) return;
    me__parentwidget = nullptr;
    me__parenthandler = 0;
}

void me__response(GtkDialog*, gint response, gpointer p) {
    int antwort = 0;
    switch (response) {
    case GTK_RESPONSE_OK:
    case GTK_RESPONSE_YES:
        antwort = 1;
        break;
    case GTK_RESPONSE_NO:
        antwort = 2;
        break;
    default: // cancel, Escape, close
        antwort = 0;
    }
    me_dialoganswer((me_dialog_t*)p, antwort);
}

struct me__async_t {
    int modus;
    int icon;
    char kopf[300];
    char inhalt[1000];
};

gpointer me__messageathread(gpointer p) {
    std::unique_ptr<me__async_t> a((me__async_t*)p);
    int r = me_messagebox(0, a->kopf, a->inhalt, a->icon ? 2 : 0, a->modus == 1 ? 2 : 0, 0);
    if (a->modus == 1 && r == 1) {
        if (_de)
            ps_statustext(" Beenden.", " Beenden.");
        else
            ps_statustext(" Ending.", " Ending.");
        ps_endeanfordern();
    }
    return nullptr;
}

} // namespace

// --- Parent --------------------------------------------------------------------------

void me_setparent(GtkWidget* parent) {
    if (me__parentwidget && me__parenthandler)
        g_signal_handler_disconnect(me__parentwidget, me__parenthandler);
    me__parentwidget = parent;
    me__parenthandler = 0;
    if (parent)
        me__parenthandler =
            g_signal_connect(parent, "destroy", G_CALLBACK(me__parentdestroyed), nullptr);
}

GtkWidget* me_parent() {
    if (!me__parentwidget) return nullptr;
    GtkWidget* top = gtk_widget_get_toplevel(me__parentwidget);
    return GTK_IS_WINDOW(top) ? top : nullptr;
}

// --- Wait record ---------------------------------------------------------------------

me_dialog_t* me_dialognew(int endanswer) {
    auto* d = new me_dialog_t;
    d->endanswer = endanswer;
    return d;
}

void me_dialogattach(me_dialog_t* d, GtkWidget* window, int mtime, int timeoutanswer) {
    d->window = window;
    d->timeoutanswer = timeoutanswer;
    d->refs.fetch_add(1);
    g_object_set_data_full(G_OBJECT(window), "me-dialog", d, me__unrefnotify);
    g_signal_connect(window, "destroy", G_CALLBACK(me__destroyed), d);
    if (mtime > 0) d->timeout = gdk_threads_add_timeout((guint)mtime, me__timeout, d);
    d->ticker = gdk_threads_add_timeout(me__TICKMS, me__tick, d);
}

void me_dialoganswer(me_dialog_t* d, int answer) {
    me__give(d, answer);
    if (d->window) gtk_widget_destroy(d->window);
}

void me_dialogsettext(me_dialog_t* d, const char* text) {
    std::lock_guard<std::mutex> g(d->mu);
    strMcpy(d->text, text ? text : "");
}

int me_dialogwait(me_dialog_t* d, char* text) {
    GMainContext* ctx = g_main_context_default();
    std::unique_lock<std::mutex> lk(d->mu);
    while (!d->answered) {
        if (me__endrequested()) {
            d->answered = true;
            d->answer = d->endanswer;
            break;
        }
        // Nobody else runs the main loop (the caller is the GTK thread itself, or the loop
        // has not started or has ended): run the dialog's events here. The ticker wakes
        // the blocking iteration regularly.
        if (g_main_context_acquire(ctx)) {
            lk.unlock();
            g_main_context_iteration(ctx, TRUE);
            g_main_context_release(ctx);
            lk.lock();
            continue;
        }
        d->cv.wait_for(lk, std::chrono::milliseconds(me__TICKMS), [d] { return d->answered; });
    }
    int antwort = d->answer;
    if (text) strmcpy(text, d->text, 50);
    lk.unlock();
    th_enter();
    if (d->window) gtk_widget_destroy(d->window);
    th_leave();
    me__unref(d);
    return antwort;
}

// --- Message boxes -------------------------------------------------------------------

int me_messagebox(int mode, const char* title, const char* content, int icon, int buttons,
                  int mtime) {
    if (mode != 0 || !title || !content || icon < 0 || icon > 3 || buttons < 0 || buttons > 3 ||
        mtime < 0)
        return 0;
    char t[100], c[800];
    strMtoutf8(t, title);
    strMtoutf8(c, content);
    static constexpr GtkMessageType typ[4] = {GTK_MESSAGE_INFO, GTK_MESSAGE_INFO,
                                              GTK_MESSAGE_WARNING, GTK_MESSAGE_QUESTION};

    me_dialog_t* d = me_dialognew(-1);
    th_enter();
    GtkWidget* w =
        gtk_message_dialog_new((GtkWindow*)me_parent(),
                               (GtkDialogFlags)(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                               typ[icon], GTK_BUTTONS_NONE, "%s", t);
    g_assert(w);
    if (*c) gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(w), "%s", c);
    gtk_window_set_title(GTK_WINDOW(w), t);
    gtk_window_set_position(GTK_WINDOW(w), GTK_WIN_POS_CENTER);
    if (buttons == 1 || buttons == 3)
        gtk_dialog_add_button(GTK_DIALOG(w), GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL);
    if (buttons == 2 || buttons == 3) {
        gtk_dialog_add_button(GTK_DIALOG(w), GTK_STOCK_NO, GTK_RESPONSE_NO);
        gtk_dialog_add_button(GTK_DIALOG(w), GTK_STOCK_YES, GTK_RESPONSE_YES);
    }
    if (buttons == 0 || buttons == 1)
        gtk_dialog_add_button(GTK_DIALOG(w), GTK_STOCK_OK, GTK_RESPONSE_OK);
    g_signal_connect(w, "response", G_CALLBACK(me__response), d);
    me_dialogattach(d, w, mtime, -1);
    gtk_widget_show_all(w);
    gtk_window_present(GTK_WINDOW(w));
    th_leave();
    return me_dialogwait(d, nullptr);
}

void me_messageboxa(int modus, const char* kopf, const char* inhalt, int icon) {
    auto* a = new me__async_t;
    a->modus = modus;
    a->icon = icon;
    strMcpy(a->kopf, kopf ? kopf : "");
    strMcpy(a->inhalt, inhalt ? inhalt : "");
    if (!th_create(me__messageathread, a)) {
        lo_slog("me_messageboxa: no thread for \"%s\"\n", a->kopf, -1);
        delete a;
    }
}
