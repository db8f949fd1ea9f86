#include "modem/atexchange.h"

void cm_end() {}
