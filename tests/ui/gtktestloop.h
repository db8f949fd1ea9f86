// The GTK main loop of the display tests: a thread registered as "gtkthread" that runs
// gm_run, with flags for "the loop runs" and "the loop was left".
#pragma once

#include "core/threads.h"
#include "ui/gtkmain.h"

#include <atomic>
#include <gtk/gtk.h>

inline std::atomic<bool> gtklaeuft{false};
inline std::atomic<bool> gtkverlassen{false};
inline std::atomic<GThread*> gtkfaden{nullptr};

inline gpointer gtkthread(gpointer) {
    th_reg r = th_register("gtkthread");
    gtkfaden = g_thread_self();
    gdk_threads_add_idle(
        [](gpointer) -> gboolean {
            gtklaeuft = true;
            return FALSE;
        },
        nullptr);
    gm_run();
    th_unregister(r);
    gtkverlassen = true;
    return nullptr;
}
