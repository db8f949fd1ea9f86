#include "ui/splash.h"

#include "core/helpers.h"

#include <atomic>

namespace {
std::atomic<int> cs__state{0};
} // namespace

namespace {
char cs__text[100];
} // namespace

void cs_splashtext(const char* text) { strMcpy(cs__text, text ? text : ""); }
const char* cs_text() { return cs__text; }

void cs_show(int code) {
    cs__state = code;
}
int cs_state() {
    return cs__state;
}
