#include "supervisor/warnings.h"

#include "core/threads.h"

gpointer wa_warningthread(gpointer) {
    th_reg self = th_register("warningthread");
    while (!th_msleep(1000)) {
    }
    th_unregister(self);
    return nullptr;
}
