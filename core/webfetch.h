// The web fetch: one page by HTTP GET over a plain TCP socket, bounded in time and size,
// with optional Basic authentication and one level of frame following; and handing a URL
// to the desktop's web browser. Used by the homezone query, the router link and the
// settings update.
#pragma once

// Fetches url ("http://" optional, port 80) and returns the whole response, status line
// and headers included, NUL-terminated in a heap buffer that the caller frees; NULL when
// nothing came. timeout in milliseconds, where 1 means 2,000 and 2 means 8,000: name
// resolution and connecting must finish within it, the first data must arrive within it,
// 2 s of silence end the transfer, and the transfer ends at ten times timeout at the
// latest; at most 300,000 bytes are kept. timeout 0 connects (waiting up to 2 s), sends
// the request and returns NULL without reading; a negative timeout returns NULL at once.
// user and pass (both non-empty, frame not 1) add Basic authentication. frame 1 fetches
// the address of the page's first "<frame src=\"http://" instead (one level). meld shows
// splash message 21 once connected. Any thread; a requested program end cuts it short.
char* iz_httpget(const char* url, const char* user, const char* pass, int timeout, int frame,
                 bool meld);

// Opens url in the desktop's web browser (xdg-open, detached, the URL as one argument;
// no shell sees it). False when the URL is refused or the browser could not be started.
bool iz_httpbrowse(const char* url);

// Replaces the text in t by its Base64 encoding (RFC 4648, "=" padded). t must have room
// for 4 * ((strlen(t) + 2) / 3) + 1 bytes.
void iz__base64(char* t);

// Looks host up within ms (ending early when the program end is requested): 0 it has an
// address, 1 a name server said it does not exist, -1 no answer in time or another failure.
int iz_namensantwort(const char* host, long ms);
// A connected non-blocking TCP socket to host:port within ms (resolving included, ending
// early when the program end is requested); -1 when none came. The caller closes it.
int iz_verbinden(const char* host, int port, long ms);
