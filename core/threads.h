// Thread registry with cooperative termination, interruptible sleeps, thread creation
// with a stack size, and the GTK lock wrappers with their record and monitor. The GTK
// lock itself and the quit of the GTK main loop are supplied by the user interface
// through th_setgui, so that core needs no GTK.
#pragma once

#include <glib.h>

struct th__reg;
typedef th__reg* th_reg;

// What the user interface provides: the GDK lock, a way to make the GTK main loop quit
// from any thread without waiting on it, whether it has quit, and whether the calling
// thread is the one running the GTK main loop.
struct th_gui_t {
    void (*lock)();
    void (*unlock)();
    void (*queuequit)();
    bool (*hasquit)();
    bool (*isguithread)();
};
void th_setgui(const th_gui_t* gui);

th_reg th_register(const char* threadname);
bool th_unregister(th_reg thp);
bool th_terminate(long milliseconds);
bool th_queryterminate();
[[noreturn]] void th_sleepinfinite();
bool th_msleep(long milliseconds);
bool th_msleepx(long milliseconds);
void th_msleepexit(long milliseconds);
GThread* th_create(GThreadFunc func, gpointer data);
GThread* th_createx(GThreadFunc func, gpointer data, unsigned long stack_size);

void th_enter_line(int line);
void th_leave_line(int line);
#define th_enter() th_enter_line(__LINE__)
#define th_leave() th_leave_line(__LINE__)

// Writes the record of the last lock operations to the service log (letter P); the lock
// monitor, started by the first th_enter, calls it about every 20 seconds.
void th_locklog();
