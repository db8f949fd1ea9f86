// Profiles: several ini files side by side, "profile.ini" naming the one in use. A copy
// named PROFILE steps to the next one in alphabetical order.
#pragma once

// Reads "profile.ini" (if present) into inidatei, inititel and connlogdatei.
void pf_read();
// Steps to the next profile and shows its name on the splash screen.
void iv_changeprofile();
