#include "messaging/smsreader.h"

#include "core/threads.h"

gpointer sm_msgthread(gpointer) {
    th_register("msgthread");
    for (;;)
        th_msleepexit(1000);
}
