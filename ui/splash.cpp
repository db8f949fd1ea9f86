#include "ui/splash.h"

#include <atomic>

namespace {
std::atomic<int> cs__state{0};
} // namespace

void cs_show(int code) {
    cs__state = code;
}
int cs_state() {
    return cs__state;
}
