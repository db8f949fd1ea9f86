// Reading, storing and sending SMS, and SMS as remote commands. The main thread, which owns
// the serial port, reads the messages stored on the modem (sm_msgholen), files them in the
// SMS log, acts on keyword messages and deletes them from the modem once they are safely on
// the disk; it sends the files dropped into "sms_send" (sm_msgsenden). The message thread
// asks the user about a message that no entry handles.
#pragma once

#include <glib.h>

#include <atomic>
#include <cstddef>

// Receive state: 0 look for messages; 1 a message waits for the user's decision (it stays
// on the modem); 2 the message at the index read last is to be deleted; 9 reception
// stopped for this run.
extern std::atomic<int> sm_msgzustand;

// The modem set-up for SMS (storage, service centre, PDU mode), once per modem session.
// t is a scratch buffer of n bytes for the answers. True when the modem is in PDU mode.
bool sm__ini(char* t, size_t n);

// One step of the receive state machine; returns the state after it.
int sm_msgholen();
// True when the last list of the modem held more messages than the one read.
bool sm_weitere();

// Sends at most one message file of "sms_send" (or reports and parks malformed ones).
void sm_msgsenden();

// Writes a message to be sent into "sms_send" (temporary file, then rename), exempt from
// the wait for files still being written. nummer: digits, a leading '+' is dropped. True
// when the file is in place.
bool sm_sendedatei(const char* nummer, const char* text);

// The message thread ("msgthread"); never returns.
gpointer sm_msgthread(gpointer par);

// The pure parts, for tests.
// A send file name "sms_<text>__[-]<digits>[.|_<any>]": the destination (1-20 digits) into
// nummer (size n) and whether it is national. False when the name is malformed.
bool sm_sendename(const char* name, char* nummer, size_t n, bool* national);
// The record of handled messages in the working directory ("smsdone.txt"): true when the
// message (sender, time stamp, body) is in it.
bool sm_erledigt(const char* absender, const char* zeit, const char* text);
// Adds a message to the record (the last 200 are kept), synced to the disk before it returns.
bool sm_erledigen(const char* absender, const char* zeit, const char* text);
