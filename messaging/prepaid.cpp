#include "messaging/prepaid.h"

// Stand-in until the prepaid tasks are built.
char sm_msgprepaidnachricht[900];
std::atomic<int> sm_msgprepaidzustand{0};

int prepaid_aufgaben(const char*, const char*, char*, char*) {
    return 0;
}

void prepaid_zeigen() {}
