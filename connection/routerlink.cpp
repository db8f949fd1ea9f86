#include "connection/routerlink.h"

bool cm_linkcom(int, const char*) {
    return false;
}

void cm_linksyswait() {}
