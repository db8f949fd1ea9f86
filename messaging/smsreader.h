// Reading, storing and sending SMS. This first layer is the SMS thread's frame: it
// registers, waits and leaves at program end; the SMS work comes with the messaging
// subsystem.
#pragma once

#include <glib.h>

// The SMS thread ("msgthread"); never returns.
gpointer sm_msgthread(gpointer par);
