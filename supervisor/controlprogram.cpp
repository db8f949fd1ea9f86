#include "supervisor/frontend.h"

// Placeholder until the control program's display loop lands: a control copy ends at once.
void frontend() {}
