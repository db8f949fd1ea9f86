// Router link mode as the dial-up sees it: the router's link state and its connect and
// disconnect requests. Stand-in until the router link is built: no router ever links.
#pragma once

// 9 asks the link state, 21 connects, 22 disconnects; true when the router says so.
bool cm_linkcom(int func, const char* arg);
// Waits until the router answers again.
void cm_linksyswait();
