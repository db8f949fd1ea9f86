#include "ui/gtkmain.h"

#include "core/threads.h"

#include <atomic>
#include <gtk/gtk.h>

namespace {

std::atomic<GThread*> gm__thread{nullptr}; // the thread inside gtk_main
std::atomic<bool> gm__running{false};      // gtk_main has been entered
std::atomic<bool> gm__quit{false};         // the quit request has been carried out
std::atomic<bool> gm__quitqueued{false};

void gm__lock() {
    gdk_threads_enter();
}
void gm__unlock() {
    gdk_threads_leave();
}

// Runs in the GTK thread once no other events are pending.
gboolean gm__quitidle(gpointer) {
    if (gm__running && gtk_main_level() > 0) gtk_main_quit();
    gm__quit = true;
    return FALSE;
}

// Any thread, also one that holds the GTK lock or is the GTK thread itself: the quit is
// carried out by the GTK thread, so nobody waits on anybody here.
void gm__queuequit() {
    if (!gm__quitqueued.exchange(true)) g_idle_add(gm__quitidle, nullptr);
}

// A loop that never ran has nothing to quit.
bool gm__hasquit() {
    return gm__quit || !gm__running;
}
bool gm__isguithread() {
    return gm__thread.load() == g_thread_self();
}

const th_gui_t gm__gui = {gm__lock, gm__unlock, gm__queuequit, gm__hasquit, gm__isguithread};

} // namespace

bool gm_init(int* argc, char*** argv) {
    gdk_threads_init();
    th_setgui(&gm__gui);
    th_enter();
    bool ok = gtk_init_check(argc, argv);
    th_leave();
    return ok;
}

void gm_run() {
    th_enter();
    gm__thread = g_thread_self();
    gm__running = true;
    if (!gm__quitqueued) gtk_main();
    gm__quit = true;
    th_leave();
}
