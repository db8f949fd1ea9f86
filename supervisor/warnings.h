// Limits, warnings and automatic disconnection. This first layer is the warning thread's
// frame: it registers, waits and returns at program end; the limits come later.
#pragma once

#include <glib.h>

// The warning thread ("warningthread"); returns after unregistering at program end.
gpointer wa_warningthread(gpointer par);
