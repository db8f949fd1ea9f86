// The plain-text logs of the working directory: service log, extended service log after
// a standby, debug log, connection log and SMS log with one file per received SMS. Every
// writer takes (format, s, li): one %s for s, and one %li for li only when li >= 0.
#pragma once

#include <atomic>

extern char connlogdatei[55];            // connection-log file name
extern std::atomic<int> smssignalstatus; // 1 after a per-SMS file was written

void lo_slog(const char* format, const char* s, long li);
void lo_slogx(const char* format, const char* s, long li);
bool lo_logafterstandby();
void lo_dlog(const char* format, const char* s, long li);
void lo_vlogtime();
void lo_vlog(const char* format, const char* s, long li);
// The SMS log sms.txt; with sms1 (a received message) also sms1.txt and a file of its own
// under sms_in. sms.txt and that file are synced to the disk: true means that sms.txt (and
// with sms1 the sms_in file) holds the text durably.
bool lo_mlog(const char* format, const char* s, long li, bool sms1);
