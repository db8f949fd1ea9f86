// Modem simulator: serves AT commands on a pseudo-terminal the way the supported
// USB sticks and phones answer them, with a SIM, a network, faults on demand and a
// transcript, so that the connection manager can be tested without hardware.
#include <pty.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <algorithm>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// What a device type says about itself.
struct ms__geraet {
    int typ;
    const char* hersteller; // +CGMI
    const char* modell;     // +CGMM
    const char* revision;   // +CGMR
    const char* ati;        // ATI, lines separated by "\r\n"
};

constexpr ms__geraet ms__geraete[] = {
    {1, "Option N.V.", "GlobeTrotter HSDPA Modem", "2.12.0.0Hd (Date: Oct 29 2009)",
     "Manufacturer: Option N.V.\r\nModel: GlobeTrotter HSDPA Modem\r\nRevision: 2.12.0.0Hd "
     "(Date: Oct 29 2009, Time: 09:56:48)"},
    {2, "Novatel Wireless Incorporated", "Merlin U740", "11.62-07 [2007-06-21 17:24:04]",
     "Manufacturer: NOVATEL WIRELESS INCORPORATED\r\nModel: Merlin U740\r\nRevision: 11.62-07 "
     "[2007-06-21 17:24:04]"},
    {3, "huawei", "E220", "11.117.09.04.00",
     "Manufacturer: huawei\r\nModel: E220\r\nRevision: 11.117.09.04.00\r\nIMEI: "
     "353142012345674\r\n+GCAP: +CGSM,+DS,+ES"},
    {4, "Sierra Wireless, Incorporated", "AirCard 875", "H1_1_4_2MCAPP3 C:/WS/FW/H1_1_4_2MCAP",
     "Manufacturer: Sierra Wireless, Incorporated\r\nModel: AirCard 875\r\nRevision: "
     "H1_1_4_2MCAPP3 C:/WS/FW/H1_1_4_2MCAP 2007/03/20 11:43:23"},
    {5, "Ericsson", "F3507g", "R1A021", "Ericsson F3507g Mobile Broadband Minicard"},
    {6, "QUALCOMM INCORPORATED", "33", "M6280A-KPWWRLYZ-3.2.22",
     "Manufacturer: QUALCOMM INCORPORATED\r\nModel: 33\r\nRevision: M6280A-KPWWRLYZ-3.2.22  1 "
     "[Jul 22 2008 09:00:00]\r\nIMEI: 353142012345674\r\n+GCAP: +CGSM,+DS,+ES"},
    {7, "SAMSUNG ELECTRONICS CORPORATION", "SGH-Z810", "Z810XXGA1",
     "Manufacturer: SAMSUNG ELECTRONICS CORPORATION\r\nModel: SGH-Z810"},
    {8, "ZTE INCORPORATED", "MF636", "BD_TMOP673A2V1.0.1B06",
     "Manufacturer: ZTE INCORPORATED\r\nModel: MF636\r\nRevision: BD_TMOP673A2V1.0.1B06\r\nIMEI: "
     "353142012345674\r\n+GCAP: +CGSM,+FCLASS,+DS"},
    {11, "Sony Ericsson", "AAD-3052021-BV", "R8BE001", "Sony Ericsson K800i"},
    {12, "LG ELECTRONICS INC.", "KU990", "V10c", "LG ELECTRONICS INC.\r\nKU990"},
};

enum ms__simzustand { MS_BEREIT, MS_PIN, MS_PUK, MS_FEHLT, MS_GESPERRT };

// One place of the SMS storage: a received PDU in hex (empty when the place is free).
struct ms__sms {
    std::string hex;
    bool gelesen = false;
};

constexpr int MS_SMSPLAETZE = 30;

// Whole simulator state; one client at a time.
struct ms__zustand {
    const ms__geraet* geraet = &ms__geraete[2];
    int master = -1, slave = -1;
    char portname[256] = "";
    std::string link;
    std::string steuerdatei;
    FILE* protokoll = nullptr;
    bool echo = true;
    bool datenmodus = false;
    int plusse = 0;
    std::string zeile;
    std::string echopuffer; // echo of the bytes read so far, sent as one write
    int cmee = 0;
    // SIM
    ms__simzustand sim = MS_BEREIT;
    std::string pin = "1234", puk = "12345678";
    int pinrest = 3, pukrest = 10;
    bool pingesetzt = true;
    // network
    int signal = 18;
    std::string netzname = "T-Mobile D", netzcode = "26201";
    std::string lac = "0A1B", ci = "00C3F2A1";
    bool ohnequotes = false;
    int regstatus = 1; // 1 home network, 5 roaming, 2 searching, 3 denied
    int act = 2;       // access technology of +COPS? (0 GSM, 2 UTRAN, 3 EDGE, 5/6 HSPA)
    bool actgesetzt = false;
    int cregn = 0, cgregn = 0, copsformat = 0, cgatt = 1, cfun = 1;
    std::string cgdcont = "1,\"IP\",\"internet\",\"\",0,0";
    // radio mode settings as each vendor stores them
    int opsys = 3, nwrat = 0, selrat = 0, zsnt1 = 0, zsnt3 = 0;
    int sysmode = 2, sysorder = 2, syssms = 1;
    // the fault to apply to the next answer(s), and how many answers it still takes
    std::string fehler;
    int fehleranzahl = 0;
    // Novatel diagnostic port: frames received so far and the answer waiting for a poll
    int zweitmaster = -1, zweitslave = -1;
    char zweitname[256] = "";
    std::string zweitpuffer, zweitantwort;
    bool statusrahmen = false; // answer the next command frame with the binary end status
    int copsablehnen = 0;      // manual selections (AT+COPS=1,...) still to refuse
    // SIM busy: for simbusysek seconds after AT+CFUN=1 and after an accepted PIN/PUK the
    // SIM answers "+CME ERROR: 14" until simbusybis (monotonic ms)
    int simbusysek = 0;
    long simbusybis = 0;
    // answers to commands beginning with stillbefehl are swallowed (echo stays);
    // stillanzahl answers still to swallow, -1 until "silent off"
    std::string stillbefehl;
    int stillanzahl = 0;
    // what real sticks do, each switched on by itself: answers in two writes, per-command
    // latency, unsolicited lines at random moments
    bool teilen = false, latenz = false, spontan = false;
    long verzoegerung = 0;   // latency before the answer being sent (ms)
    long naechstspontan = 0; // when the next unsolicited line is due (monotonic ms)
    unsigned spontanzaehler = 0;
    // SMS: the storage (indexes from 1), the message format (text after power-up and
    // ATZ), the service centre and the storage names of +CPMS
    ms__sms sms[MS_SMSPLAETZE];
    bool textmodus = true;
    std::string smsc = "+491710760000";
    int smsctyp = 145;
    std::string speicher[3] = {"SM", "SM", "SM"};
    // a message being typed after +CMGS: its destination (text mode) or TPDU length
    // (PDU mode), the bytes so far; without a prompt the stick takes nothing but ESC
    bool smseingabe = false, smsohneprompt = false, smstext = false;
    std::string smsziel, smspuffer;
    int smslaenge = 0;
    int smsreferenz = 0;
    // faults on demand: +CMGS without prompt, +CMGD refused (answers still to take)
    int ohneprompt = 0, cmgdfehler = 0;
    std::string ausgang; // outbox: one line per sent message
    // USSD: the network's answer (UTF-8 as written in the control file) and how it is
    // coded; how long after the OK the +CUSD line comes; the mode (0 normal, 1 hex codes
    // only, 2 silent, 3 menu); an open menu session; the +CUSD lines still due.
    std::string ussdtext = "Guthaben: 5,00 EUR";
    int ussdkodierung = 0; // 0 plain (Latin-1, DCS 15), 1 GSM 7-bit hex (15), 2 UCS-2 (72)
    long ussdverzoegerung = 1500;
    int ussdmodus = 0;
    bool ussdsitzung = false;
    std::vector<std::pair<long, std::string>> ussdfaellig;
    std::string notiz; // a transcript note written after the answer being sent
};

ms__zustand ms__z;
volatile sig_atomic_t ms__ende = 0;

void ms__signal(int) {
    ms__ende = 1;
}

long ms__jetztms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

void ms__schlaf(long ms) {
    timespec t{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && !ms__ende) {
    }
}

// One transcript line: wall time, direction, bytes with control characters escaped.
void ms__protokolliere(char richtung, const char* daten, size_t n) {
    if (!ms__z.protokoll || n == 0) return;
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    tm lt{};
    gmtime_r(&t.tv_sec, &lt);
    fprintf(ms__z.protokoll, "%02d:%02d:%02d.%03ld %c ", lt.tm_hour, lt.tm_min, lt.tm_sec,
            t.tv_nsec / 1000000L, richtung);
    for (size_t i = 0; i < n; i++) {
        unsigned char c = static_cast<unsigned char>(daten[i]);
        if (c == '\r')
            fputs("\\r", ms__z.protokoll);
        else if (c == '\n')
            fputs("\\n", ms__z.protokoll);
        else if (c == '\\')
            fputs("\\\\", ms__z.protokoll);
        else if (c < 0x20 || c >= 0x7f)
            fprintf(ms__z.protokoll, "\\x%02X", c);
        else
            fputc(c, ms__z.protokoll);
    }
    fputc('\n', ms__z.protokoll);
    fflush(ms__z.protokoll);
}

void ms__schreibroh(const char* daten, size_t n) {
    size_t weg = 0;
    while (weg < n) {
        ssize_t r = write(ms__z.master, daten + weg, n - weg);
        if (r < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                ms__schlaf(5);
                continue;
            }
            return;
        }
        weg += static_cast<size_t>(r);
    }
    ms__protokolliere('>', daten, n);
}

void ms__beende(int code) {
    if (!ms__z.link.empty()) unlink(ms__z.link.c_str());
    if (ms__z.protokoll) fclose(ms__z.protokoll);
    _exit(code);
}

void ms__echo() {
    if (ms__z.echopuffer.empty()) return;
    std::string e;
    e.swap(ms__z.echopuffer);
    ms__schreibroh(e.data(), e.size());
}

std::string ms__gross(std::string s) {
    for (char& c : s)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

bool ms__beginnt(const std::string& s, const char* p) {
    return s.rfind(p, 0) == 0;
}

// An unsolicited line as the device sends it on its own: Huawei's status lines, and the
// registration reports once +CREG=/+CGREG= asked for them. Empty when there is none.
std::string ms__spontanzeile() {
    std::vector<std::string> z;
    // the report form has no <n>
    int stat =
        ms__z.sim == MS_BEREIT && ms__z.cfun == 1 && !ms__z.netzname.empty() ? ms__z.regstatus : 0;
    auto bericht = [&](const char* name, int n) {
        std::string r = std::string("+") + name + ": " + std::to_string(stat);
        if (n == 2 && (stat == 1 || stat == 5)) r += ",\"" + ms__z.lac + "\",\"" + ms__z.ci + "\"";
        return r;
    };
    if (ms__z.cregn > 0) z.push_back(bericht("CREG", ms__z.cregn));
    if (ms__z.cgregn > 0) z.push_back(bericht("CGREG", ms__z.cgregn));
    if (ms__z.geraet->typ == 3) {
        z.push_back("^RSSI:" + std::to_string(ms__z.signal));
        z.push_back("^MODE:5,4");
        z.push_back("^BOOT:20952,0,0,0,75");
        z.push_back("^DSFLOWRPT:00000012,00000000,00000000,0000000000000000,0000000000000000,"
                    "0000000000,0000000000");
    }
    if (z.empty()) return "";
    return "\r\n" + z[ms__z.spontanzaehler++ % z.size()] + "\r\n";
}

// Sends an unsolicited line when one is due and the line can take it without blocking
// (nobody may be reading); never in data mode.
void ms__spontan(bool jetzt) {
    if (!ms__z.spontan || ms__z.datenmodus) return;
    long t = ms__jetztms();
    if (!jetzt && t < ms__z.naechstspontan) return;
    ms__z.naechstspontan = t + 500 + rand() % 2000;
    pollfd p{ms__z.master, POLLOUT, 0};
    if (poll(&p, 1, 0) != 1 || !(p.revents & POLLOUT)) return;
    std::string z = ms__spontanzeile();
    if (!z.empty()) ms__schreibroh(z.data(), z.size());
}

// How long a real stick takes for a command before it answers (ms): the SIM, the network
// and the radio settings take a second or two, everything else a few dozen ms.
long ms__latenzfuer(const std::string& zeile) {
    std::string c = ms__gross(zeile);
    if (!ms__beginnt(c, "AT")) return 0;
    c = c.substr(2);
    if (ms__beginnt(c, "+CPIN=")) return 1500;
    if (c == "+COPS=?") return 2000;
    if (ms__beginnt(c, "+COPS=") && !ms__beginnt(c, "+COPS=3")) return 1500;
    if (ms__beginnt(c, "+CGATT=") || ms__beginnt(c, "^SYSCFG=")) return 1000;
    if (ms__beginnt(c, "+CFUN=")) return 500;
    return 20 + rand() % 60;
}

// Writes an answer the way USB sticks deliver it: the information lines in one packet,
// the final result some hundred ms later in the next (a bare result split after its
// leading line end); an unsolicited line may come in between.
void ms__liefere(const std::string& text) {
    if (!ms__z.teilen || text.size() < 4) {
        ms__schreibroh(text.data(), text.size());
        return;
    }
    size_t k = text.rfind("\r\n", text.size() - 3);
    if (k == std::string::npos || k == 0) k = 2;
    ms__schreibroh(text.data(), k);
    ms__schlaf(100 + rand() % 200);
    if (rand() % 3 == 0) ms__spontan(true);
    ms__schreibroh(text.data() + k, text.size() - k);
}

// Sends an answer, applying a pending fault to it.
void ms__antworte(const std::string& text) {
    ms__echo();
    std::string f = ms__z.fehler;
    if (--ms__z.fehleranzahl <= 0) ms__z.fehler.clear();
    long latenz = ms__z.verzoegerung;
    ms__z.verzoegerung = 0;
    if (latenz > 0 && f != "hangup") ms__schlaf(latenz);
    if (f == "silence") return;
    if (f == "hangup") {
        close(ms__z.master);
        close(ms__z.slave);
        ms__beende(0);
    }
    if (f == "late") {
        ms__schlaf(1500);
        ms__schreibroh(text.data(), text.size());
    } else if (f == "firstbyte" && text.size() > 1) {
        ms__schreibroh(text.data(), 1);
        ms__schlaf(300);
        ms__schreibroh(text.data() + 1, text.size() - 1);
    } else if (f == "split" && text.size() > 1) {
        size_t h = text.size() / 2;
        ms__schreibroh(text.data(), h);
        ms__schlaf(200);
        ms__schreibroh(text.data() + h, text.size() - h);
    } else if (f == "garbage") {
        std::string g;
        for (size_t i = 0; i < text.size() + 8; i++)
            g += static_cast<char>(0x80 + rand() % 0x7f);
        ms__schreibroh(g.data(), g.size());
    } else {
        ms__liefere(text);
    }
}

// The quoted arguments of a command such as +CPIN="1234","5678".
std::vector<std::string> ms__quotiert(const std::string& s) {
    std::vector<std::string> r;
    size_t i = 0;
    while ((i = s.find('"', i)) != std::string::npos) {
        size_t e = s.find('"', i + 1);
        if (e == std::string::npos) break;
        r.push_back(s.substr(i + 1, e - i - 1));
        i = e + 1;
    }
    return r;
}

// Comma-separated integers after the '=' (missing values are -1).
std::vector<int> ms__zahlen(const std::string& s) {
    std::vector<int> r;
    size_t i = s.find('=');
    if (i == std::string::npos) return r;
    std::string rest = s.substr(i + 1);
    size_t p = 0;
    while (true) {
        size_t e = rest.find(',', p);
        std::string t = rest.substr(p, e == std::string::npos ? std::string::npos : e - p);
        r.push_back(t.empty() || !isdigit(static_cast<unsigned char>(t[0])) ? -1 : atoi(t.c_str()));
        if (e == std::string::npos) break;
        p = e + 1;
    }
    return r;
}

std::string ms__cme(int code, const char* text) {
    if (ms__z.cmee == 1) return "\r\n+CME ERROR: " + std::to_string(code) + "\r\n";
    if (ms__z.cmee == 2) return std::string("\r\n+CME ERROR: ") + text + "\r\n";
    return "\r\nERROR\r\n";
}

// +CME error for commands that need an unlocked SIM, or "" when it is ready.
std::string ms__simfehler() {
    switch (ms__z.sim) {
    case MS_BEREIT:
        return "";
    case MS_PIN:
        return ms__cme(11, "SIM PIN required");
    case MS_PUK:
        return ms__cme(12, "SIM PUK required");
    case MS_FEHLT:
        return ms__cme(10, "SIM not inserted");
    case MS_GESPERRT:
        return ms__cme(13, "SIM failure");
    }
    return "";
}

// Starts the SIM's busy time, as after power-up of the radio or an accepted PIN.
void ms__simbeschaeftigt() {
    if (ms__z.simbusysek > 0) ms__z.simbusybis = ms__jetztms() + ms__z.simbusysek * 1000L;
}

// True while the SIM is busy and the command (without "AT", upper case) needs it. The
// radio's own commands (+CSQ, +CFUN, identification) are answered meanwhile.
bool ms__simbelegt(const std::string& c) {
    if (ms__z.simbusybis == 0 || ms__jetztms() >= ms__z.simbusybis) return false;
    if (ms__beginnt(c, "+CSQ") || ms__beginnt(c, "+CFUN") || ms__beginnt(c, "+CMEE") ||
        ms__beginnt(c, "+CIND") || ms__beginnt(c, "+CBC") || ms__beginnt(c, "+CGM") ||
        ms__beginnt(c, "+CGSN"))
        return false;
    return ms__beginnt(c, "+C") || ms__beginnt(c, "^CPIN") || ms__beginnt(c, "D") ||
           ms__beginnt(c, "_O") || ms__beginnt(c, "^SYS") || ms__beginnt(c, "$NW") ||
           ms__beginnt(c, "!SEL") || ms__beginnt(c, "+Z");
}

std::string ms__q(const std::string& s) {
    return ms__z.ohnequotes ? s : "\"" + s + "\"";
}

std::string ms__reg(const char* name, int n) {
    int stat =
        ms__z.sim == MS_BEREIT && ms__z.cfun == 1 && !ms__z.netzname.empty() ? ms__z.regstatus : 0;
    std::string r = std::string("+") + name + ": " + std::to_string(n) + "," + std::to_string(stat);
    if (n == 2 && (stat == 1 || stat == 5)) r += "," + ms__q(ms__z.lac) + "," + ms__q(ms__z.ci);
    return r;
}

int ms__balken() {
    int s = ms__z.signal;
    if (s == 99 || s < 0) return 0;
    return s >= 27 ? 5 : s >= 21 ? 4 : s >= 15 ? 3 : s >= 9 ? 2 : s >= 3 ? 1 : 0;
}

std::string ms__cms(int code) {
    return "\r\n+CMS ERROR: " + std::to_string(code) + "\r\n";
}

bool ms__isthex(const std::string& s) {
    if (s.empty() || s.size() % 2 != 0) return false;
    for (char c : s)
        if (!isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// The TPDU length of a PDU in hex: its octets less the service-centre part (the length
// octet and as many octets as it names). Stored PDUs may be malformed on purpose.
int ms__tpdulaenge(const std::string& hex) {
    int sca = hex.size() >= 2 && isxdigit(static_cast<unsigned char>(hex[0])) &&
                      isxdigit(static_cast<unsigned char>(hex[1]))
                  ? static_cast<int>(strtol(hex.substr(0, 2).c_str(), nullptr, 16))
                  : 0;
    return std::max(0, static_cast<int>(hex.size() / 2) - 1 - sca);
}

int ms__smsbelegt() {
    int n = 0;
    for (const auto& m : ms__z.sms)
        n += m.hex.empty() ? 0 : 1;
    return n;
}

// Sends the message typed after +CMGS: a PDU must be hex of the announced length. It
// goes to the outbox as typed; in text mode with the number it was addressed to.
std::string ms__smssende() {
    std::string zeile;
    if (ms__z.smstext) {
        std::string text;
        for (char c : ms__z.smspuffer)
            text += c == '\r'   ? std::string("\\r")
                    : c == '\n' ? std::string("\\n")
                                : std::string(1, c);
        zeile = "TEXT " + ms__z.smsziel + " " + text;
    } else {
        for (char c : ms__z.smspuffer)
            if (!isspace(static_cast<unsigned char>(c)))
                zeile += static_cast<char>(toupper(static_cast<unsigned char>(c)));
        if (!ms__isthex(zeile) || ms__tpdulaenge(zeile) != ms__z.smslaenge) return ms__cms(304);
    }
    if (!ms__z.ausgang.empty()) {
        FILE* f = fopen(ms__z.ausgang.c_str(), "a");
        if (!f) return ms__cms(500);
        fprintf(f, "%s\n", zeile.c_str());
        fclose(f);
    }
    ms__z.smsreferenz = (ms__z.smsreferenz + 1) % 256;
    return "\r\n+CMGS: " + std::to_string(ms__z.smsreferenz) + "\r\n\r\nOK\r\n";
}

// One byte while a message is typed after +CMGS: Ctrl-Z sends, ESC cancels. Without a
// prompt the stick took no message: Ctrl-Z is refused and nothing is sent.
void ms__smsbyte(char c) {
    if (c == 0x1B || c == 0x1A) {
        ms__z.smseingabe = false;
        if (c == 0x1B)
            ms__antworte("\r\nOK\r\n");
        else
            ms__antworte(ms__z.smsohneprompt ? ms__cms(500) : ms__smssende());
        return;
    }
    if (ms__z.echo) ms__z.echopuffer += c;
    if (ms__z.smspuffer.size() < 1024) ms__z.smspuffer += c;
}

// The answer to an SMS command (c upper case without "AT", roh as typed), or "" when c is
// none. Storage indexes run from 1; status 0 is received unread, 1 received read.
std::string ms__smsbefehl(const std::string& c, const std::string& roh) {
    const std::string ok = "\r\nOK\r\n", err = "\r\nERROR\r\n";
    auto info = [&](const std::string& t) { return "\r\n" + t + "\r\n" + ok; };
    if (c == "+CMGF?") return info(ms__z.textmodus ? "+CMGF: 1" : "+CMGF: 0");
    if (c == "+CMGF=?") return info("+CMGF: (0-1)");
    if (ms__beginnt(c, "+CMGF=")) {
        auto z = ms__zahlen(c);
        if (z.size() != 1 || z[0] < 0 || z[0] > 1) return err;
        ms__z.textmodus = z[0] == 1;
        return ok;
    }
    if (c == "+CSCA?")
        return info("+CSCA: \"" + ms__z.smsc + "\"," + std::to_string(ms__z.smsctyp));
    if (ms__beginnt(c, "+CSCA=")) {
        // an optional '+' and 1 to 20 digits
        auto a = ms__quotiert(roh);
        std::string n = a.empty() ? "" : a[0];
        size_t z = n.rfind('+', 0) == 0 ? 1 : 0;
        if (n.size() <= z || n.size() - z > 20 ||
            n.find_first_not_of("0123456789", z) != std::string::npos)
            return ms__cms(304);
        auto t = ms__zahlen(c);
        ms__z.smsc = n;
        ms__z.smsctyp = t.size() > 1 && t[1] > 0 ? t[1] : z == 1 ? 145 : 129;
        return ok;
    }
    if (c == "+CPMS=?")
        return info("+CPMS: (\"SM\",\"ME\",\"MT\"),(\"SM\",\"ME\",\"MT\"),(\"SM\",\"ME\",\"MT\")");
    std::string anzahl = std::to_string(ms__smsbelegt()) + "," + std::to_string(MS_SMSPLAETZE);
    if (c == "+CPMS?") {
        std::string r = "+CPMS: ";
        for (int i = 0; i < 3; i++)
            r += (i ? ",\"" : "\"") + ms__z.speicher[i] + "\"," + anzahl;
        return info(r);
    }
    if (ms__beginnt(c, "+CPMS=")) {
        auto a = ms__quotiert(c);
        if (a.empty() || a.size() > 3) return err;
        for (const auto& s : a)
            if (s != "SM" && s != "ME" && s != "MT") return ms__cms(302);
        std::string r = "+CPMS: ";
        for (size_t i = 0; i < a.size(); i++) {
            ms__z.speicher[i] = a[i];
            r += (i ? "," : "") + anzahl;
        }
        return info(r);
    }
    if (ms__beginnt(c, "+CMGL")) {
        // text mode would list by status names ("REC UNREAD"); the numeric form is refused
        if (ms__z.textmodus) return ms__cms(302);
        auto z = ms__zahlen(c);
        int stat = z.empty() ? 0 : z[0];
        if (stat < 0 || stat > 4) return err;
        std::string r;
        for (int i = 0; i < MS_SMSPLAETZE; i++) {
            ms__sms& m = ms__z.sms[i];
            int st = m.gelesen ? 1 : 0;
            if (m.hex.empty() || (stat != 4 && stat != st)) continue;
            r += "\r\n+CMGL: " + std::to_string(i + 1) + "," + std::to_string(st) + ",," +
                 std::to_string(ms__tpdulaenge(m.hex)) + "\r\n" + m.hex;
            m.gelesen = true; // listing reads an unread message, as on real sticks
        }
        return r.empty() ? ok : r + "\r\n" + ok;
    }
    if (ms__beginnt(c, "+CMGR=")) {
        if (ms__z.textmodus) return ms__cms(302);
        auto z = ms__zahlen(c);
        if (z.empty() || z[0] < 1 || z[0] > MS_SMSPLAETZE || ms__z.sms[z[0] - 1].hex.empty())
            return ms__cms(321);
        ms__sms& m = ms__z.sms[z[0] - 1];
        std::string r = "+CMGR: " + std::string(m.gelesen ? "1" : "0") + ",," +
                        std::to_string(ms__tpdulaenge(m.hex)) + "\r\n" + m.hex;
        m.gelesen = true;
        return info(r);
    }
    if (ms__beginnt(c, "+CMGD=")) {
        auto z = ms__zahlen(c);
        if (z.empty() || z[0] < 0) return err;
        if (ms__z.cmgdfehler > 0) {
            ms__z.cmgdfehler--;
            return ms__cms(500);
        }
        // a delete flag: 1 to 3 remove every read message, 4 every message
        int flag = z.size() > 1 ? z[1] : 0;
        if (flag > 4) return err;
        if (flag > 0) {
            for (auto& m : ms__z.sms)
                if (flag == 4 || m.gelesen) m = ms__sms{};
            return ok;
        }
        if (z[0] < 1 || z[0] > MS_SMSPLAETZE || ms__z.sms[z[0] - 1].hex.empty())
            return ms__cms(321);
        ms__z.sms[z[0] - 1] = ms__sms{};
        return ok;
    }
    if (ms__beginnt(c, "+CMGS=")) {
        // text mode: the destination number; PDU mode: the TPDU length (at most 164)
        std::string arg = roh.substr(roh.find('=') + 1);
        if (ms__z.textmodus) {
            auto a = ms__quotiert(arg);
            ms__z.smsziel = a.empty() ? arg.substr(0, arg.find(',')) : a[0];
            if (ms__z.smsziel.empty()) return err;
        } else {
            auto z = ms__zahlen(c);
            if (z.empty() || z[0] < 1 || z[0] > 164) return err;
            ms__z.smslaenge = z[0];
        }
        ms__z.smstext = ms__z.textmodus;
        ms__z.smseingabe = true;
        ms__z.smspuffer.clear();
        ms__z.smsohneprompt = ms__z.ohneprompt > 0;
        if (ms__z.smsohneprompt) {
            ms__z.ohneprompt--;
            return "";
        }
        return "\r\n> ";
    }
    return "";
}

// The GSM default alphabet by septet, as Unicode code points (0x1B, the escape to the
// extension table, has none), and the extension characters the simulator knows.
constexpr unsigned ms__gsm[128] = {
    0x40,  0xA3, 0x24, 0xA5,  0xE8, 0xE9,  0xF9,  0xEC,  0xF2,  0xC7,  0x0A,  0xD8,  0xF8,
    0x0D,  0xC5, 0xE5, 0x394, 0x5F, 0x3A6, 0x393, 0x39B, 0x3A9, 0x3A0, 0x3A8, 0x3A3, 0x398,
    0x39E, 0,    0xC6, 0xE6,  0xDF, 0xC9,  0x20,  0x21,  0x22,  0x23,  0xA4,  0x25,  0x26,
    0x27,  0x28, 0x29, 0x2A,  0x2B, 0x2C,  0x2D,  0x2E,  0x2F,  0x30,  0x31,  0x32,  0x33,
    0x34,  0x35, 0x36, 0x37,  0x38, 0x39,  0x3A,  0x3B,  0x3C,  0x3D,  0x3E,  0x3F,  0xA1,
    0x41,  0x42, 0x43, 0x44,  0x45, 0x46,  0x47,  0x48,  0x49,  0x4A,  0x4B,  0x4C,  0x4D,
    0x4E,  0x4F, 0x50, 0x51,  0x52, 0x53,  0x54,  0x55,  0x56,  0x57,  0x58,  0x59,  0x5A,
    0xC4,  0xD6, 0xD1, 0xDC,  0xA7, 0xBF,  0x61,  0x62,  0x63,  0x64,  0x65,  0x66,  0x67,
    0x68,  0x69, 0x6A, 0x6B,  0x6C, 0x6D,  0x6E,  0x6F,  0x70,  0x71,  0x72,  0x73,  0x74,
    0x75,  0x76, 0x77, 0x78,  0x79, 0x7A,  0xE4,  0xF6,  0xF1,  0xFC,  0xE0};
constexpr std::pair<unsigned, int> ms__gsmext[] = {
    {0x0C, 0x0A}, {'^', 0x14}, {'{', 0x28}, {'}', 0x29}, {'\\', 0x2F},
    {'[', 0x3C},  {'~', 0x3D}, {']', 0x3E}, {'|', 0x40}, {0x20AC, 0x65}};

// Code points of a UTF-8 text; a byte that starts no valid sequence stands for itself.
std::vector<unsigned> ms__zeichen(const std::string& s) {
    std::vector<unsigned> r;
    for (size_t i = 0; i < s.size();) {
        unsigned c = static_cast<unsigned char>(s[i]);
        size_t n = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        bool gut = n > 0;
        unsigned v = c & (0x3F >> n);
        for (size_t k = 1; gut && k <= n; k++) {
            if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                gut = false;
            else
                v = v << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        if (gut) {
            r.push_back(v);
            i += n + 1;
        } else {
            r.push_back(c);
            i++;
        }
    }
    return r;
}

std::string ms__utf8(const std::vector<unsigned>& z) {
    std::string r;
    for (unsigned c : z) {
        if (c < 0x80) {
            r += static_cast<char>(c);
        } else if (c < 0x800) {
            r += static_cast<char>(0xC0 | c >> 6);
            r += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            r += static_cast<char>(0xE0 | c >> 12);
            r += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            r += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return r;
}

std::string ms__hex(const std::vector<unsigned char>& b) {
    static const char* z = "0123456789ABCDEF";
    std::string r;
    for (unsigned char c : b) {
        r += z[c >> 4];
        r += z[c & 15];
    }
    return r;
}

// A text as GSM 7-bit septets packed least significant bit first, in hex; characters
// outside the alphabet become '?'. 7 spare bits at the end are filled with CR, as a
// network does, so that no '@' can be read there.
std::string ms__siebenhex(const std::vector<unsigned>& text) {
    std::vector<int> s;
    for (unsigned c : text) {
        int g = -1;
        for (int i = 0; i < 128 && g < 0; i++)
            if (ms__gsm[i] == c && i != 0x1B) g = i;
        if (g < 0)
            for (const auto& e : ms__gsmext)
                if (e.first == c) {
                    s.push_back(0x1B);
                    g = e.second;
                }
        s.push_back(g < 0 ? '?' : g);
    }
    if (s.size() % 8 == 7) s.push_back(0x0D);
    std::vector<unsigned char> b((7 * s.size() + 7) / 8, 0);
    for (size_t i = 0; i < s.size(); i++)
        for (int k = 0; k < 7; k++)
            if (s[i] >> k & 1)
                b[(7 * i + k) / 8] |= static_cast<unsigned char>(1 << ((7 * i + k) % 8));
    return ms__hex(b);
}

// Unpacks a GSM 7-bit packed code given in hex, exactly as sent: a CR in the last, spare
// septet is the filler and dropped; zero padding there reads as '@'.
std::vector<unsigned> ms__siebenlesen(const std::string& hex) {
    std::vector<unsigned char> b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        b.push_back(static_cast<unsigned char>(strtol(hex.substr(i, 2).c_str(), nullptr, 16)));
    size_t n = b.size() * 8 / 7;
    std::vector<int> s;
    for (size_t i = 0; i < n; i++) {
        int c = 0;
        for (int k = 0; k < 7; k++) {
            size_t p = 7 * i + k;
            if (b[p / 8] >> (p % 8) & 1) c |= 1 << k;
        }
        s.push_back(c);
    }
    if (b.size() % 7 == 0 && !s.empty() && s.back() == 0x0D) s.pop_back();
    std::vector<unsigned> r;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == 0x1B && i + 1 < s.size()) {
            unsigned c = '?';
            for (const auto& e : ms__gsmext)
                if (e.second == s[i + 1]) c = e.first;
            r.push_back(c);
            i++;
        } else {
            r.push_back(ms__gsm[s[i]]);
        }
    }
    return r;
}

// The +CUSD line of the configured answer with the given status, coded as configured.
std::string ms__cusdzeile(int status) {
    std::vector<unsigned> z = ms__zeichen(ms__z.ussdtext);
    std::string text;
    int dcs = 15;
    if (ms__z.ussdkodierung == 1) {
        text = ms__siebenhex(z);
    } else if (ms__z.ussdkodierung == 2) {
        std::vector<unsigned char> b;
        for (unsigned c : z) {
            unsigned u = c > 0xFFFF ? '?' : c;
            b.push_back(static_cast<unsigned char>(u >> 8));
            b.push_back(static_cast<unsigned char>(u & 0xFF));
        }
        text = ms__hex(b);
        dcs = 72;
    } else {
        for (unsigned c : z)
            text += static_cast<char>(c > 0xFF ? '?' : c);
    }
    return "\r\n+CUSD: " + std::to_string(status) + ",\"" + text + "\"," + std::to_string(dcs) +
           "\r\n";
}

// AT+CUSD (c upper case without "AT", roh as typed). A code is taken with OK at once, as
// real sticks do; its answer follows as an unsolicited +CUSD line after the delay.
std::string ms__ussdbefehl(const std::string& c, const std::string& roh) {
    const std::string ok = "\r\nOK\r\n", err = "\r\nERROR\r\n";
    if (c == "+CUSD?") return "\r\n+CUSD: 1\r\n" + ok;
    if (c == "+CUSD=?") return "\r\n+CUSD: (0-2)\r\n" + ok;
    auto z = ms__zahlen(c);
    if (z.empty() || z[0] < 0 || z[0] > 2) return err;
    if (z[0] == 2) {
        ms__z.ussdsitzung = false;
        return ok;
    }
    auto a = ms__quotiert(roh);
    if (z[0] == 0 || a.empty()) return ok; // presentation of network answers only
    std::string code = a[0];
    bool hex = ms__isthex(code);
    if (ms__z.ussdmodus == 1 && !hex) return err;
    if (ms__z.ussdmodus == 3 && ms__z.ussdsitzung) return err;
    std::string lesbar = hex ? ms__utf8(ms__siebenlesen(code)) : code;
    ms__z.notiz = "USSD code: " + lesbar;
    if (ms__z.ussdmodus == 2) return ok;
    int status = 0;
    if (ms__z.ussdmodus == 3) {
        ms__z.ussdsitzung = true;
        status = 1;
    }
    ms__z.ussdfaellig.emplace_back(ms__jetztms() + ms__z.ussdverzoegerung, ms__cusdzeile(status));
    return ok;
}

// Answers one command line; info is the text before the final result.
std::string ms__befehl(const std::string& zeile) {
    const std::string ok = "\r\nOK\r\n", err = "\r\nERROR\r\n";
    std::string g = ms__gross(zeile);
    if (!ms__beginnt(g, "AT")) return err;
    std::string c = g.substr(2);
    std::string roh = zeile.substr(2);
    auto info = [&](const std::string& t) { return "\r\n" + t + "\r\n" + ok; };
    const ms__geraet& d = *ms__z.geraet;
    int typ = d.typ;

    // a reset brings back the message format of power-up
    if (c == "Z" || c == "Z0" || ms__beginnt(c, "&F")) {
        ms__z.textmodus = true;
        return ok;
    }
    if (c.empty() || c == "H" || c == "H0" || ms__beginnt(c, "V1") || ms__beginnt(c, "Q0") ||
        ms__beginnt(c, "S0") || ms__beginnt(c, "&"))
        return ok;
    if (c == "E0" || c == "E1") {
        ms__z.echo = c == "E1";
        return ok;
    }
    if (c == "I" || c == "I0") return info(d.ati);
    if (c == "+CGMI" || c == "+GMI") return info(d.hersteller);
    if (c == "+CGMM" || c == "+GMM") return info(d.modell);
    if (c == "+CGMR" || c == "+GMR") return info(d.revision);
    if (c == "+CGSN" || c == "+GSN") return info("353142012345674");
    if (ms__simbelegt(c)) return ms__cme(14, "SIM busy");
    if (c == "+CIMI") return ms__z.sim == MS_BEREIT ? info("262011234567890") : ms__simfehler();
    if (ms__beginnt(c, "+CMEE=")) {
        auto z = ms__zahlen(c);
        if (z.empty() || z[0] < 0 || z[0] > 2) return err;
        ms__z.cmee = z[0];
        return ok;
    }
    if (c == "+CPIN?") {
        switch (ms__z.sim) {
        case MS_BEREIT:
            return info("+CPIN: READY");
        case MS_PIN:
            return info("+CPIN: SIM PIN");
        case MS_PUK:
            return info("+CPIN: SIM PUK");
        case MS_FEHLT:
            return "\r\n+CME ERROR: 10\r\n";
        case MS_GESPERRT:
            return "\r\n+CME ERROR: 13\r\n";
        }
    }
    if (ms__beginnt(c, "+CPIN=")) {
        auto a = ms__quotiert(roh);
        if (a.empty()) {
            // unquoted forms are accepted by most devices
            std::string r = roh.substr(roh.find('=') + 1);
            size_t k = r.find(',');
            a.push_back(r.substr(0, k));
            if (k != std::string::npos) a.push_back(r.substr(k + 1));
        }
        switch (ms__z.sim) {
        case MS_FEHLT:
            return ms__cme(10, "SIM not inserted");
        case MS_GESPERRT:
            return ms__cme(13, "SIM failure");
        case MS_BEREIT:
            return ms__cme(3, "operation not allowed");
        case MS_PIN:
            if (a[0] == ms__z.pin) {
                ms__z.sim = MS_BEREIT;
                ms__z.pinrest = 3;
                ms__simbeschaeftigt();
                return ok;
            }
            if (--ms__z.pinrest <= 0) {
                ms__z.pinrest = 0;
                ms__z.sim = MS_PUK;
            }
            return ms__cme(16, "incorrect password");
        case MS_PUK:
            if (a.size() >= 2 && a[0] == ms__z.puk && !a[1].empty()) {
                ms__z.pin = a[1];
                ms__z.sim = MS_BEREIT;
                ms__z.pinrest = 3;
                ms__z.pukrest = 10;
                ms__simbeschaeftigt();
                return ok;
            }
            if (a.size() < 2) return ms__cme(12, "SIM PUK required");
            if (--ms__z.pukrest <= 0) {
                ms__z.pukrest = 0;
                ms__z.sim = MS_GESPERRT;
            }
            return ms__cme(16, "incorrect password");
        }
    }
    if (c == "+CPINR?" || c == "^CPIN?")
        return info("+CPINR: " + std::to_string(ms__z.pinrest) + "," +
                    std::to_string(ms__z.pukrest));
    if (c == "+CSQ") return info("+CSQ: " + std::to_string(ms__z.signal) + ",99");
    if (c == "+CIND?") return info("+CIND: 5," + std::to_string(ms__balken()) + ",1,0,0,0,0,0");
    if (c == "+CBC") return info("+CBC: 0,80");
    if (c == "+CFUN?") return info("+CFUN: " + std::to_string(ms__z.cfun));
    if (ms__beginnt(c, "+CFUN=")) {
        auto z = ms__zahlen(c);
        if (z.empty() || z[0] < 0) return err;
        ms__z.cfun = typ == 5 ? (z[0] == 4 ? 4 : 1) : z[0];
        if (typ == 5 && (z[0] == 1 || z[0] == 5 || z[0] == 6)) ms__z.opsys = z[0];
        if (z[0] == 1) ms__simbeschaeftigt();
        return ok;
    }
    // everything below needs the SIM
    if (ms__beginnt(c, "+C") || ms__beginnt(c, "D") || ms__beginnt(c, "_O") ||
        ms__beginnt(c, "^SYS") || ms__beginnt(c, "$NW") || ms__beginnt(c, "!SEL") ||
        ms__beginnt(c, "+Z")) {
        std::string f = ms__simfehler();
        if (!f.empty()) return f;
    }
    if (ms__beginnt(c, "+CUSD")) return ms__ussdbefehl(c, roh);
    std::string sms = ms__smsbefehl(c, roh);
    if (!sms.empty() || ms__beginnt(c, "+CMGS=")) return sms;
    if (c == "+CREG?") return info(ms__reg("CREG", ms__z.cregn));
    if (c == "+CGREG?") return info(ms__reg("CGREG", ms__z.cgregn));
    if (ms__beginnt(c, "+CREG=") || ms__beginnt(c, "+CGREG=")) {
        auto z = ms__zahlen(c);
        if (z.empty() || z[0] < 0 || z[0] > 2) return err;
        (c[2] == 'R' ? ms__z.cregn : ms__z.cgregn) = z[0];
        return ok;
    }
    if (c == "+COPS?") {
        if (ms__z.netzname.empty() || ms__z.cfun != 1) return info("+COPS: 0");
        return info("+COPS: 0," + std::to_string(ms__z.copsformat) + ",\"" +
                    (ms__z.copsformat == 2 ? ms__z.netzcode : ms__z.netzname) + "\"," +
                    std::to_string(ms__z.act));
    }
    if (c == "+COPS=?")
        return info("+COPS: (2,\"" + ms__z.netzname + "\",\"" + ms__z.netzname.substr(0, 8) +
                    "\",\"" + ms__z.netzcode +
                    "\",2),(3,\"o2 - de\",\"o2 - de\",\"26207\",2),(1,\"Vodafone.de\","
                    "\"Vodafone\",\"26202\",0),,(0,1,2,3,4),(0,1,2)");
    if (ms__beginnt(c, "+COPS=")) {
        auto z = ms__zahlen(c);
        if (z.empty() || z[0] < 0) return err;
        if (z[0] == 1 && ms__z.copsablehnen > 0) {
            ms__z.copsablehnen--;
            return ms__cme(30, "no network service");
        }
        if (z[0] == 3) {
            if (z.size() < 2 || (z[1] != 0 && z[1] != 2)) return err;
            ms__z.copsformat = z[1];
        }
        return ok;
    }
    if (ms__beginnt(c, "+CGDCONT=")) {
        if (ms__quotiert(roh).empty()) return err;
        ms__z.cgdcont = roh.substr(roh.find('=') + 1);
        return ok;
    }
    if (c == "+CGDCONT?") return info("+CGDCONT: " + ms__z.cgdcont);
    if (c == "+CGATT?") return info("+CGATT: " + std::to_string(ms__z.cgatt));
    if (ms__beginnt(c, "+CGATT=")) {
        auto z = ms__zahlen(c);
        if (z.empty() || (z[0] != 0 && z[0] != 1)) return err;
        ms__z.cgatt = z[0];
        return ok;
    }
    if (ms__beginnt(c, "D*99") || ms__beginnt(c, "DT*99")) {
        if (ms__z.netzname.empty()) return "\r\nNO CARRIER\r\n";
        ms__z.datenmodus = true;
        ms__z.plusse = 0;
        return "\r\nCONNECT 7200000\r\n";
    }
    // vendor radio mode commands
    if (ms__beginnt(c, "_OPSYS=") && typ != 2 && typ != 3 && typ != 5 && typ != 8) {
        auto z = ms__zahlen(c);
        if (z.empty() || z[0] < 0 || z[0] > 5) return err;
        ms__z.opsys = z[0];
        return ok;
    }
    if (c == "_OPSYS?" && typ == 1) return info("_OPSYS: " + std::to_string(ms__z.opsys) + ",2");
    if (c == "_OWCTI?" && typ == 1)
        return info("_OWCTI: " + std::to_string(ms__z.opsys == 0 ? 0 : 4));
    if (typ == 2 && ms__beginnt(c, "$NWRAT=")) {
        auto z = ms__zahlen(c);
        if (z.empty() || z[0] < 0 || z[0] > 2) return err;
        ms__z.nwrat = z[0];
        return ok;
    }
    if (typ == 2 && c == "$NWRAT?")
        return info("$NWRAT: " + std::to_string(ms__z.nwrat) + ",2," +
                    std::to_string(ms__z.nwrat == 1 ? 4 : 2));
    if (typ == 3 && ms__beginnt(c, "^SYSCFG=")) {
        auto z = ms__zahlen(c);
        if (z.size() < 5 || z[0] < 0 || z[1] < 0) return err;
        ms__z.sysmode = z[0];
        ms__z.sysorder = z[1];
        ms__z.syssms = z[4];
        return ok;
    }
    if (typ == 3 && c == "^SYSCFG?")
        return info("^SYSCFG:" + std::to_string(ms__z.sysmode) + "," +
                    std::to_string(ms__z.sysorder) + ",3FFFFFFF,1," + std::to_string(ms__z.syssms));
    if (typ == 3 && c == "^SYSINFO")
        return info(std::string("^SYSINFO:2,3,0,5,1,,") + (ms__z.sysmode == 13 ? "3" : "4"));
    if (typ == 4 && ms__beginnt(c, "!SELRAT=")) {
        auto z = ms__zahlen(c);
        if (z.empty() || z[0] < 0 || z[0] > 4) return err;
        ms__z.selrat = z[0];
        return ok;
    }
    if (typ == 4 && c == "!SELRAT?") return info("!SELRAT: 0" + std::to_string(ms__z.selrat));
    if (typ == 8 && ms__beginnt(c, "+ZSNT=")) {
        auto z = ms__zahlen(c);
        if (z.size() < 3 || z[0] < 0 || z[2] < 0) return err;
        ms__z.zsnt1 = z[0];
        ms__z.zsnt3 = z[2];
        return ok;
    }
    if (typ == 8 && c == "+ZSNT?")
        return info("+ZSNT: " + std::to_string(ms__z.zsnt1) + ",0," + std::to_string(ms__z.zsnt3));
    if (typ == 8 && c == "+ZPAS?" && ms__z.actgesetzt) {
        const char* art = ms__z.act == 0   ? "GPRS"
                          : ms__z.act == 3 ? "EDGE"
                          : ms__z.act >= 4 ? "HSDPA"
                                           : "UMTS";
        return info(std::string("+ZPAS: \"") + art + "\",\"CS_PS\"");
    }
    if (typ == 8 && c == "+ZPAS?")
        return info(std::string("+ZPAS: \"") + (ms__z.zsnt1 == 1 ? "GPRS" : "UMTS") +
                    "\",\"CS_PS\"");
    // harmless settings every device takes
    if (ms__beginnt(c, "+CNMI") || ms__beginnt(c, "+CMGF") || ms__beginnt(c, "+CSCS") ||
        ms__beginnt(c, "+CLIP") || ms__beginnt(c, "+CRC") || ms__beginnt(c, "+CPMS"))
        return ok;
    return err;
}

// Acts on one line of the control file.
void ms__steuerung(const std::string& zeile) {
    char a[128] = "", b[128] = "";
    // "ussd TEXT": the network's answer to every code (UTF-8, the rest of the line)
    if (zeile.rfind("ussd ", 0) == 0) {
        ms__z.ussdtext = zeile.substr(5);
        return;
    }
    if (sscanf(zeile.c_str(), "ussdcoding %127s", a) == 1) {
        std::string k = a;
        ms__z.ussdkodierung = k == "gsm7" ? 1 : k == "ucs2" ? 2 : 0;
        return;
    }
    long ms = 0;
    if (sscanf(zeile.c_str(), "ussddelay %ld", &ms) == 1) {
        ms__z.ussdverzoegerung = std::max(0L, ms);
        return;
    }
    if (sscanf(zeile.c_str(), "ussdmode %127s", a) == 1) {
        std::string m = a;
        ms__z.ussdmodus = m == "hexonly" ? 1 : m == "silent" ? 2 : m == "menu" ? 3 : 0;
        ms__z.ussdsitzung = false;
        return;
    }
    // "ring" (a known caller), "ring NUMBER" (type 145 when it begins with '+', else 129),
    // "ring noclip" (no caller number shown)
    if (zeile == "ring" || zeile.rfind("ring ", 0) == 0) {
        std::string nummer = zeile == "ring" ? "+491701234567" : zeile.substr(5);
        std::string r = "\r\nRING\r\n";
        if (nummer != "noclip")
            r += "\r\n+CLIP: \"" + nummer + "\"," + (nummer[0] == '+' ? "145" : "129") + "\r\n";
        ms__schreibroh(r.data(), r.size());
        return;
    }
    if (sscanf(zeile.c_str(), "signal %d", &ms__z.signal) == 1) return;
    if (zeile.rfind("network ", 0) == 0) {
        // the name may contain blanks: the numeric code is the last word
        std::string rest = zeile.substr(8);
        size_t k = rest.find_last_of(' ');
        if (k == std::string::npos) {
            ms__z.netzname = rest == "none" ? "" : rest;
        } else {
            ms__z.netzname = rest.substr(0, k);
            ms__z.netzcode = rest.substr(k + 1);
        }
        return;
    }
    if (sscanf(zeile.c_str(), "cell %127s %127s", a, b) == 2) {
        ms__z.lac = a;
        ms__z.ci = b;
        return;
    }
    if (sscanf(zeile.c_str(), "register %d", &ms__z.regstatus) == 1) return;
    if (sscanf(zeile.c_str(), "rat %d", &ms__z.act) == 1) {
        ms__z.actgesetzt = true;
        return;
    }
    // "cmee N": the error form, as if the host had sent AT+CMEE=N
    if (sscanf(zeile.c_str(), "cmee %d", &ms__z.cmee) == 1) return;
    // "refuse N": the next N manual network selections are refused (no network service)
    if (sscanf(zeile.c_str(), "refuse %d", &ms__z.copsablehnen) == 1) return;
    if (zeile == "statusframe") {
        ms__z.statusrahmen = true;
        return;
    }
    if (zeile.rfind("sim ", 0) == 0 && sscanf(zeile.c_str(), "sim %127s", a) == 1) {
        std::string s = a;
        ms__z.sim = s == "ready" ? MS_BEREIT : s == "pin" ? MS_PIN : s == "puk" ? MS_PUK : MS_FEHLT;
        return;
    }
    // "sms HEX": a received PDU, stored unread at the lowest free index
    if (zeile.rfind("sms ", 0) == 0) {
        std::string hex = ms__gross(zeile.substr(4));
        while (!hex.empty() && hex.back() == ' ')
            hex.pop_back();
        for (auto& m : ms__z.sms)
            if (m.hex.empty()) {
                m.hex = hex;
                m.gelesen = false;
                return;
            }
        fputs("modemsim: SMS storage full\n", stderr);
        return;
    }
    // "fault NAME [COUNT]": the fault takes the next COUNT answers (one by default).
    int anzahl = 1;
    if (sscanf(zeile.c_str(), "fault %127s %d", a, &anzahl) >= 1) {
        // faults of the SMS commands wait for their command instead of the next answer
        if (std::string(a) == "noprompt" || std::string(a) == "cmgderror") {
            (a[0] == 'n' ? ms__z.ohneprompt : ms__z.cmgdfehler) = anzahl < 1 ? 1 : anzahl;
            return;
        }
        ms__z.fehler = a;
        ms__z.fehleranzahl = anzahl < 1 ? 1 : anzahl;
        if (ms__z.fehler == "hangup") ms__antworte("");
        return;
    }
    // "simbusy SECONDS": the SIM's busy time after CFUN=1 and the PIN (0 switches it off)
    if (sscanf(zeile.c_str(), "simbusy %d", &anzahl) == 1) {
        ms__z.simbusysek = anzahl < 0 ? 0 : anzahl;
        if (ms__z.simbusysek == 0) ms__z.simbusybis = 0;
        return;
    }
    // "silent CMD [COUNT]": the next COUNT answers (one by default; 0 or "always" until
    // "silent off") to commands beginning with CMD are not sent
    if (sscanf(zeile.c_str(), "silent %127s %127s", a, b) >= 1) {
        std::string n = b;
        if (std::string(a) == "off") {
            ms__z.stillbefehl.clear();
            ms__z.stillanzahl = 0;
        } else {
            ms__z.stillbefehl = ms__gross(a);
            ms__z.stillanzahl = n.empty() ? 1 : n == "always" || atoi(b) <= 0 ? -1 : atoi(b);
        }
        return;
    }
    // "split|latency|unsolicited on|off", and "realistic on|off" for all of them with a
    // SIM busy for 2 s after CFUN=1 and the PIN
    if (sscanf(zeile.c_str(), "%127s %127s", a, b) == 2 &&
        (std::string(b) == "on" || std::string(b) == "off")) {
        std::string was = a;
        bool an = std::string(b) == "on";
        if (was == "split" || was == "realistic") ms__z.teilen = an;
        if (was == "latency" || was == "realistic") ms__z.latenz = an;
        if (was == "unsolicited" || was == "realistic") ms__z.spontan = an;
        if (was == "realistic") {
            ms__z.simbusysek = an ? 2 : 0;
            if (!an) ms__z.simbusybis = 0;
        }
        return;
    }
}

void ms__steuerdatei() {
    if (ms__z.steuerdatei.empty()) return;
    int fd = open(ms__z.steuerdatei.c_str(), O_RDWR);
    if (fd < 0) return;
    std::string inhalt;
    char buf[512];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        inhalt.append(buf, static_cast<size_t>(n));
    if (!inhalt.empty() && ftruncate(fd, 0) != 0) {
    }
    close(fd);
    size_t p = 0;
    while (p < inhalt.size()) {
        size_t e = inhalt.find('\n', p);
        std::string z = inhalt.substr(p, e == std::string::npos ? std::string::npos : e - p);
        if (!z.empty() && z.back() == '\r') z.pop_back();
        if (!z.empty()) ms__steuerung(z);
        if (e == std::string::npos) break;
        p = e + 1;
    }
}

// Writes the pending note of the last command to the transcript, after its answer, so
// that a command and its answer stay next to each other there.
void ms__notieren() {
    if (ms__z.notiz.empty()) return;
    ms__protokolliere('=', ms__z.notiz.data(), ms__z.notiz.size());
    ms__z.notiz.clear();
}

// Sends the +CUSD lines that are due, as unsolicited lines; never into the data mode.
void ms__ussdsenden() {
    if (ms__z.datenmodus || ms__z.slave < 0) return;
    long jetzt = ms__jetztms();
    auto& f = ms__z.ussdfaellig;
    while (!f.empty() && f.front().first <= jetzt) {
        ms__schreibroh(f.front().second.data(), f.front().second.size());
        f.erase(f.begin());
    }
}

// True when the answer to this command line is to be swallowed ("silent").
bool ms__still(const std::string& zeile) {
    if (ms__z.stillbefehl.empty() || ms__z.stillanzahl == 0) return false;
    std::string g = ms__gross(zeile);
    if (!ms__beginnt(g, "AT") || !ms__beginnt(g.substr(2), ms__z.stillbefehl.c_str())) return false;
    if (ms__z.stillanzahl > 0 && --ms__z.stillanzahl == 0) ms__z.stillbefehl.clear();
    return true;
}

void ms__byte(char c) {
    if (ms__z.datenmodus) {
        // "+++" leaves the data mode
        ms__z.plusse = c == '+' ? ms__z.plusse + 1 : 0;
        if (ms__z.plusse == 3) {
            ms__z.datenmodus = false;
            ms__z.plusse = 0;
            ms__antworte("\r\nOK\r\n");
        }
        return;
    }
    if (ms__z.smseingabe) {
        ms__smsbyte(c);
        return;
    }
    if (ms__z.echo) ms__z.echopuffer += c;
    if (c == '\n') return;
    if (c == '\r') {
        std::string z = ms__z.zeile;
        ms__z.zeile.clear();
        while (!z.empty() && z[0] == ' ')
            z.erase(0, 1);
        if (z.empty()) return;
        std::string antwort = ms__befehl(z);
        if (ms__still(z)) {
            ms__echo();
            ms__notieren();
            return;
        }
        if (ms__z.latenz) ms__z.verzoegerung = ms__latenzfuer(z);
        ms__antworte(antwort);
        ms__notieren();
        return;
    }
    if (c == 8 || c == 127) {
        if (!ms__z.zeile.empty()) ms__z.zeile.pop_back();
        return;
    }
    if (ms__z.zeile.size() < 1024) ms__z.zeile += c;
}

// CRC-16/X.25 as PPP uses it for its frames.
unsigned ms__fcs(const unsigned char* p, size_t n) {
    unsigned f = 0xFFFF;
    for (size_t i = 0; i < n; i++) {
        f ^= p[i];
        for (int b = 0; b < 8; b++)
            f = (f & 1) ? (f >> 1) ^ 0x8408 : f >> 1;
    }
    return ~f & 0xFFFF;
}

constexpr size_t MS_RAHMEN = 651;

void ms__zweitschreibe(const std::string& d) {
    if (write(ms__z.zweitmaster, d.data(), d.size()) < 0) {
    }
    ms__protokolliere(']', d.data(), d.size());
}

// A diagnostic frame: header, text at byte 4, its length at byte 644, FCS, flag.
std::string ms__rahmen(unsigned char sub, unsigned char art, const std::string& text) {
    std::string r(MS_RAHMEN, '\0');
    r[0] = 0x4B;
    r[1] = static_cast<char>(sub);
    r[2] = static_cast<char>(art);
    size_t n = std::min<size_t>(text.size(), 255);
    r.replace(4, n, text.substr(0, n));
    r[644] = static_cast<char>(n);
    unsigned f = ms__fcs(reinterpret_cast<const unsigned char*>(r.data()), 648);
    r[648] = static_cast<char>(f & 0xFF);
    r[649] = static_cast<char>(f >> 8);
    r[650] = 0x7E;
    return r;
}

// The secondary port of Novatel modems: AT commands inside 651-byte frames. A command
// frame is acknowledged with an empty frame; the answer comes with the next poll frame.
// Commands sent as plain text get plain answers. The probe frame stays unanswered, as
// on the U740 this device type presents.
void ms__zweitport() {
    std::string& b = ms__z.zweitpuffer;
    while (!b.empty()) {
        unsigned char c0 = static_cast<unsigned char>(b[0]);
        if (c0 == 0x30) {
            if (b.size() < 6) return;
            b.erase(0, 6);
        } else if (c0 == 0x4B) {
            if (b.size() < MS_RAHMEN) return;
            const auto* u = reinterpret_cast<const unsigned char*>(b.data());
            unsigned f = ms__fcs(u, 648);
            bool gut = u[650] == 0x7E && u[648] == (f & 0xFF) && u[649] == (f >> 8);
            unsigned char sub = u[1], art = u[2];
            std::string text = b.substr(4, std::min<size_t>(u[644], 640));
            b.erase(0, MS_RAHMEN);
            if (!gut) continue;
            if (art == 0x03 && ms__z.statusrahmen) {
                // The device's own status message ("~", 3): it ends the session.
                ms__z.statusrahmen = false;
                ms__zweitschreibe(std::string("\x7E\x03\x00\x00\x7E", 5));
            } else if (art == 0x03) {
                while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
                    text.pop_back();
                ms__z.zweitantwort = ms__befehl(text);
                ms__notieren();
                ms__zweitschreibe(ms__rahmen(sub, 0x03, ""));
            } else if (art == 0x04) {
                ms__zweitschreibe(ms__rahmen(sub, 0x04, ms__z.zweitantwort));
                ms__z.zweitantwort.clear();
            }
        } else if (c0 == 'A' || c0 == 'a') {
            size_t e = b.find('\r');
            if (e == std::string::npos) return;
            std::string z = b.substr(0, e);
            b.erase(0, e + 1);
            ms__zweitschreibe(ms__befehl(z));
            ms__notieren();
        } else {
            b.erase(0, 1); // out of step: resynchronise on the next header
        }
    }
}

void ms__hilfe() {
    fputs("usage: modemsim [--type N] [--pin PIN] [--puk PUK] [--nopin] [--nosim]\n"
          "                [--signal N] [--network NAME NUMERIC] [--cell LAC CI] [--unquoted]\n"
          "                [--byid DIR --name NAME] [--control FILE] [--transcript FILE]\n"
          "                [--secondary] [--simbusy SECONDS] [--realistic] [--outbox FILE]\n",
          stderr);
}

} // namespace

int main(int argc, char** argv) {
    std::string byid, name, protokoll;
    bool pinabfrage = true, ohnesim = false, zweitport = false;
    for (int i = 1; i < argc; i++) {
        std::string o = argv[i];
        bool hat1 = i + 1 < argc, hat2 = i + 2 < argc;
        if (o == "--type" && hat1) {
            int t = atoi(argv[++i]);
            ms__z.geraet = nullptr;
            for (const auto& d : ms__geraete)
                if (d.typ == t) ms__z.geraet = &d;
            if (!ms__z.geraet) {
                fprintf(stderr, "modemsim: unknown device type %d\n", t);
                return 2;
            }
        } else if (o == "--pin" && hat1) {
            ms__z.pin = argv[++i];
        } else if (o == "--puk" && hat1) {
            ms__z.puk = argv[++i];
        } else if (o == "--nopin") {
            pinabfrage = false;
        } else if (o == "--nosim") {
            ohnesim = true;
        } else if (o == "--signal" && hat1) {
            ms__z.signal = atoi(argv[++i]);
        } else if (o == "--network" && hat2) {
            ms__z.netzname = argv[++i];
            ms__z.netzcode = argv[++i];
        } else if (o == "--cell" && hat2) {
            ms__z.lac = argv[++i];
            ms__z.ci = argv[++i];
        } else if (o == "--secondary") {
            zweitport = true;
        } else if (o == "--simbusy" && hat1) {
            ms__z.simbusysek = std::max(0, atoi(argv[++i]));
        } else if (o == "--realistic") {
            ms__z.teilen = ms__z.latenz = ms__z.spontan = true;
            ms__z.simbusysek = 2;
        } else if (o == "--unquoted") {
            ms__z.ohnequotes = true;
        } else if (o == "--byid" && hat1) {
            byid = argv[++i];
        } else if (o == "--name" && hat1) {
            name = argv[++i];
        } else if (o == "--control" && hat1) {
            ms__z.steuerdatei = argv[++i];
        } else if (o == "--transcript" && hat1) {
            protokoll = argv[++i];
        } else if (o == "--outbox" && hat1) {
            ms__z.ausgang = argv[++i];
        } else {
            ms__hilfe();
            return 2;
        }
    }
    ms__z.sim = ohnesim ? MS_FEHLT : pinabfrage ? MS_PIN : MS_BEREIT;
    // sent messages go to "outbox" beside the control file (or the transcript)
    std::string neben = !ms__z.steuerdatei.empty() ? ms__z.steuerdatei : protokoll;
    if (ms__z.ausgang.empty() && !neben.empty()) {
        size_t k = neben.rfind('/');
        ms__z.ausgang = k == std::string::npos ? "outbox" : neben.substr(0, k + 1) + "outbox";
    }

    if (openpty(&ms__z.master, &ms__z.slave, ms__z.portname, nullptr, nullptr) != 0) {
        perror("modemsim: openpty");
        return 1;
    }
    // The slave stays open here too, so the master never reads EIO between clients.
    termios t{};
    tcgetattr(ms__z.slave, &t);
    cfmakeraw(&t);
    tcsetattr(ms__z.slave, TCSANOW, &t);
    if (!protokoll.empty()) ms__z.protokoll = fopen(protokoll.c_str(), "a");
    if (!byid.empty() && !name.empty()) {
        ms__z.link = byid + "/" + name;
        unlink(ms__z.link.c_str());
        if (symlink(ms__z.portname, ms__z.link.c_str()) != 0) perror("modemsim: symlink");
    }
    struct sigaction sa {};
    sa.sa_handler = ms__signal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    srand(static_cast<unsigned>(getpid()));
    if (zweitport) {
        if (openpty(&ms__z.zweitmaster, &ms__z.zweitslave, ms__z.zweitname, nullptr, nullptr) !=
            0) {
            perror("modemsim: openpty");
            return 1;
        }
        tcgetattr(ms__z.zweitslave, &t);
        cfmakeraw(&t);
        tcsetattr(ms__z.zweitslave, TCSANOW, &t);
    }
    printf("port %s\n", ms__z.portname);
    if (zweitport) printf("secondary %s\n", ms__z.zweitname);
    fflush(stdout);

    long naechste = 0;
    while (!ms__ende) {
        pollfd p[2] = {{ms__z.master, POLLIN, 0}, {ms__z.zweitmaster, POLLIN, 0}};
        int r = poll(p, ms__z.zweitmaster >= 0 ? 2 : 1, 50);
        if (r > 0 && ms__z.zweitmaster >= 0 && (p[1].revents & POLLIN)) {
            char buf[1024];
            ssize_t n = read(ms__z.zweitmaster, buf, sizeof buf);
            if (n > 0) {
                ms__protokolliere('[', buf, static_cast<size_t>(n));
                ms__z.zweitpuffer.append(buf, static_cast<size_t>(n));
                ms__zweitport();
            }
        }
        // The line in data mode belongs to the dialler alone: our slave is let go, so the
        // dialler's last close reads as a hang-up (a real modem sees DTR drop) and the
        // modem is back in command mode for the next opener.
        if (ms__z.datenmodus && ms__z.slave >= 0) {
            close(ms__z.slave);
            ms__z.slave = -1;
        } else if (ms__z.slave < 0 && r > 0 && (p[0].revents & (POLLHUP | POLLERR))) {
            ms__z.datenmodus = false;
            ms__z.slave = open(ms__z.portname, O_RDWR | O_NOCTTY);
            tcgetattr(ms__z.slave, &t);
            cfmakeraw(&t);
            tcsetattr(ms__z.slave, TCSANOW, &t);
            tcflush(ms__z.master, TCIOFLUSH);
            continue;
        }
        if (r > 0 && (p[0].revents & POLLIN)) {
            char buf[256];
            ssize_t n = read(ms__z.master, buf, sizeof buf);
            if (n > 0) {
                ms__protokolliere('<', buf, static_cast<size_t>(n));
                for (ssize_t i = 0; i < n; i++)
                    ms__byte(buf[i]);
                ms__echo();
            }
        }
        if (ms__z.slave >= 0) ms__spontan(false);
        ms__ussdsenden();
        long jetzt = ms__jetztms();
        if (jetzt >= naechste) {
            naechste = jetzt + 50;
            ms__steuerdatei();
        }
    }
    ms__beende(0);
}
