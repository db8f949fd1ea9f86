#include "supervisor/mainthread.h"

#include "config/inifile.h"
#include "connection/dialup.h"
#include "connection/reachability.h"
#include "connection/statistics.h"
#include "connection/userprograms.h"
#include "core/helpers.h"
#include "messaging/prepaid.h"
#include "messaging/remotecommand.h"
#include "messaging/sms.h"
#include "modem/discovery.h"
#include "supervisor/signalreading.h"
#include "supervisor/warnings.h"
#include "ui/trayicons.h"
#include "config/profiles.h"
#include "config/settingslist.h"
#include "core/logging.h"
#include "core/programstate.h"
#include "core/threads.h"
#include "modem/atexchange.h"
#include "modem/calls.h"
#include "supervisor/frontend.h"
#include "supervisor/programend.h"
#include "ui/gtkmain.h"
#include "ui/mainwindow.h"
#include "ui/splash.h"
#include "ui/timertick.h"

#include <atomic>
#include <cstdio>
#include <cstring>

gpointer mt_gtkthread(gpointer) {
    th_register("gtkthread");
    gm_run();
    cm_end();
    th_unregister(nullptr);
    th_sleepinfinite();
}

namespace {
// Result 1 of the configuration reader: say what is missing, then end.
void mt__unvollstaendig() {
    if (inidat.hinweisk == '3') {
        inidat.hinweisk = '0';
    } else if (strchr("1378", inidat.hinweisk)) {
        cc_show2(_de ? "*Bitte beachten:" : "*Please inspect:",
                 _de ? "*Bitte beachten:" : "*Please inspect:");
        th_msleep(4000);
        cc_show2(_de ? "*CONFIG oder tandor.ini" : "*CONFIG or tandor.ini",
                 _de ? "*CONFIG oder tandor.ini" : "*CONFIG or tandor.ini");
        th_msleep(4000);
    } else if (!configsub) {
        cc_show2(_de ? "*Bitte Datei \"tandor.ini\" beachten."
                     : "*Please read INI-file \"tandor.ini\".",
                 _de ? "*Bitte Datei \"tandor.ini\" beachten."
                     : "*Please read INI-file \"tandor.ini\".");
        th_msleep(4000);
    }
}

// The state of the main loop between two cycles.
struct mt__schleife_t {
    sr_zustand_t lesen;
    sr_statistik_t statistik;
    int zaehler = 0;
    int zaehlerlimited = 8;
};
mt__schleife_t mt__s;

void mt__zeige(const char* de, const char* en, const char* minide, const char* minien, long ms) {
    cc_show2(_de ? de : en, _de ? minide : minien);
    if (ms) th_msleepexit(ms);
}

// Marks of the end sequence in the extended service log while the program rests.
void mt__endp(const char* marke) {
    if (ruhestatus != 0) lo_slogx("%s\n", marke, -1);
}

// One AT exchange of the start-up: command, wait, read.
void mt__befehl(const char* cmd, char* a, size_t n, long warte) {
    cm_puts(cmd);
    th_msleepexit(warte);
    cm_gets(a, 5, n);
}

} // namespace

bool mt_netzwahl() {
    const char* net = inidat.net;
    bool netz = net[0] && net[0] != ';' && net[0] != '?';
    char befehl[600], a[CM_ANTWORTGROESSE];
    if (netz) {
        size_t l = strlen(net);
        bool code = (l == 5 || l == 6);
        for (size_t i = 0; i < l && code; i++)
            code = isdigit(static_cast<unsigned char>(net[i]));
        snprintf(befehl, sizeof befehl, code ? "AT+COPS=1,2,\"%s\"\r" : "AT+COPS=1,0,\"%s\"\r",
                 net);
    } else {
        strMcpy(befehl, "AT+COPS=0\r");
    }
    for (;;) {
        if (programmende(false)) return false;
        cn_statistics(nullptr, nullptr, nullptr);
        wa_grenzen();
        a[0] = 0;
        if (geraet != 1 || !netz) {
            mt__befehl(befehl, a, sizeof a, ANTWORTZEIT);
        } else {
            mt__befehl("AT+COPS?\r", a, sizeof a, ANTWORTZEIT);
            char schon[600];
            snprintf(schon, sizeof schon, "COPS: 1,0,\"%s\"", net);
            if (strstr(a, schon)) return true;
            th_msleepexit(2000);
            cm_puts(befehl);
            th_msleepexit(2000);
            // The verdict is the answer to the selection itself; the "OK" of the question
            // before it says nothing about whether the network was accepted.
            a[0] = 0;
            static const char* punkte[] = {".", "..", "...", "....", "....."};
            for (int i = 0; i < 5 && !strstr(a, "OK") && !strstr(a, "ERROR"); i++) {
                char t[100];
                snprintf(t, sizeof t, _de ? "+Manuelle Netzwahl%s" : "+Manual network selection%s",
                         punkte[i]);
                cc_show2(t, _de ? "+Netzwahl." : "+Network_selection.");
                cm_gets(a, 10, sizeof a);
            }
        }
        if (strstr(a, "OK")) return true;
        mt__s.lesen.netz.ba = 0;
        sr_recordnetz(nullptr);
        ic_mshow(2, 0, -1, -1, -1, _de ? "Netzsuche." : "Network search.");
        mt__zeige("+Netzsuche läuft.", "+Searching for network.", "+Netzsuche.", "+Network_search.",
                  4000);
    }
}

namespace {

// The modem start-up after the configuration: PIN, radio mode, network, APN. False when the
// program ends.
bool mt__modemstart() {
    int f = inidat.funktion;
    bool startup = (linksys || !cn_wasactiveatstart()) && !inidat.com1none &&
                   strcmp(inidat.com1, "NONE") != 0 && inidat.devi[0] != '*';
    char a[CM_ANTWORTGROESSE];
    if (startup) {
        mt__endp("ENDP820.");
        int pin = de_inipin(0);
        mt__endp("ENDP830.");
        if (pin != DE_BEREIT) {
            std::atomic_ref<int> form(fefo);
            if (form.load() == fefo_ICON) form.store(fefo_NORMAL);
            char text[400];
            if (pin == DE_KEINPORT)
                snprintf(text, sizeof text,
                         _de ? "*Port \"%s\" nicht verfügbar." : "*Port \"%s\" not available.",
                         inidat.com1);
            else
                strMcpy(text, sr_pintext(pin));
            cc_show2(text, text);
            th_msleep(4000);
            programmende(true);
        }
        if (geraet != 5 && geraet != 8) de_iniopmode(f, 2);
        if (f >= 1 && f <= 4 && !linksys && !mt_netzwahl()) return false;
        if (geraet == 4 || geraet == 6) de_iniopmode(f, 0);
        if (geraet == 5 || geraet == 8) de_iniopmode(f, 2);
        if (!linksys) {
            char befehl[400];
            snprintf(befehl, sizeof befehl, "AT+CGDCONT=1,\"IP\",\"%s\"\r",
                     strcmp(inidat.apn, "NONE") == 0 ? "" : inidat.apn);
            mt__befehl(befehl, a, sizeof a, ANTWORTZEIT);
            if (!strstr(a, "OK")) {
                th_msleepexit(2000);
                mt__befehl(befehl, a, sizeof a, ANTWORTZEIT);
            }
            if (!strstr(a, "OK"))
                mt__zeige("*Modem reagiert nicht auf APN.", "*Modem does not answer to APN.",
                          "*Kein_APN.", "*No_APN.", 8000);
            if (geraet == 2 || geraet == 4)
                mt__befehl("AT+CGATT=1\r", a, sizeof a, geraet == 4 ? 2000 : ANTWORTZEIT);
        }
        // Modems that keep messages from before the start: read them now. A message that
        // waits for the user's decision ends the loop; the user answers meanwhile.
        if (!linksys && MODUS('M') && (geraet == 2 || geraet == 6)) {
            for (int i = 0; i < 20; i++) {
                int z = sm_msgzustand;
                if (z != 0 && z != 2) break;
                z = sm_msgholen();
                if (z != 2) break;
                th_msleepexit(2000);
            }
        }
        if (inidat.smsring) mt__befehl("AT+CLIP=1\r", a, sizeof a, ANTWORTZEIT);
    } else if (cn_wasactiveatstart()) {
        lo_slog(_de ? "Bereits verbunden.\n" : "Already connected.\n", "", -1);
        lo_vlog(_de ? "%s Bereits verbunden.\n" : "%s Already connected.\n", "", -1);
        mt__zeige("+Bereits verbunden.", "+Already connected.", "+Bereits_verbunden.",
                  "+Already_connected.", 4000);
        homezonezaehler = 0;
        if (!linksys) {
            if (cm_open(inidat.com1, false)) {
                de_identify();
                de_cellidqueryini();
            } else {
                cm_secport = true;
                if (cm_open(inidat.com2, false)) {
                    geraet = 2;
                } else {
                    char text[400];
                    snprintf(text, sizeof text,
                             _de ? "*COM-Port \"%s\" nicht verfügbar."
                                 : "*COM-port \"%s\" not available.",
                             inidat.com1);
                    cc_show2(text, text);
                    th_msleep(4000);
                    programmende(true);
                }
            }
        }
    }
    // The command port; a modem with one port shares it with the connection. The user's
    // initialisation commands follow at once.
    if (!linksys && !inidat.com1none) cm_open(inidat.com1, false);
    cm_userat(nullptr);
    if (geraet == 6 || strcmp(inidat.com2, "NONE") == 0) {
        lo_slog("Single port used for commands and connection.\n", "", -1);
        cm__singleport = true;
    }
    if (geraet == 2 && !linksys && !cn_wasactiveatstart()) cm_change();
    return true;
}

// The user programs for the program start. They run once per process: a rest neither
// stops nor starts them again. Slots for an SMS or a call wait for their trigger.
void mt__startprogramme() {
    static bool gestartet = false;
    if (gestartet || inidat.funktion > 39) return;
    gestartet = true;
    for (int i = 0; i < SP_SLOTS; i++)
        if (inidat.cmd[i][0] && !inidat.sms[i] && sp_atstart(inidat.cmd[i]))
            sp_start(i, inidat.cmd[i]);
}

// Start of the main thread (again after every rest). False: the program rests and starts
// again.
bool mt__start() {
    cn_ini();
    verbindenverboten = true;
    verbindeneinmal = false;
    if (inidat.funktion == FUNKTION_PROFILE) {
        iv_changeprofile();
        programmende(true);
    }
    int ergebnis = iv_iniparse();
    if (ergebnis == 1) mt__unvollstaendig();
    if (ergebnis != 0) {
        if (ruhestatus == 4) ruhestatus = 0;
        programmende(true);
    }
    mt__startprogramme();
    if (inidat.funktion != FUNKTION_CONFIG) inidat.hinweisk = '0';
    if (ruhestatus == 4) ruhestatus = 0;
    if (inidat.funktion != FUNKTION_CONFIG) {
        cs_show(0);
        // The form stored in the header, unless a mini form or the icon is shown already.
        std::atomic_ref<int> form(fefo);
        int jetzt = form.load();
        if (jetzt != fefo_MINI && jetzt != fefo_MINI2 && jetzt != fefo_ICON)
            form.store(inidat.headerfefo);
        cc_show();
    }
    // The control program mirrors a running copy until its end is asked for.
    if (inidat.funktion == FUNKTION_CONTROL) frontend();
    if (inidat.funktion > 39) programmende(true);
    mt__endp("ENDP810.");
    // After a rest the record made at the first start stays.
    ii_start(true);
    if (!mt__modemstart()) return false;
    sr_ini(mt__s.lesen);
    mt__s.statistik = sr_statistik_t{};
    mt__s.zaehler = 0;
    mt__s.zaehlerlimited = 8;
    cc_show2(" Start.", " Start.");
    lo_slog("Main thread: cycle started.\n", "", -1);
    return true;
}

// Step 12: the statistics pass and the texts of volume and speed.
void mt__statistik() {
    mt__schleife_t& s = mt__s;
    if (s.zaehler == 0) {
        for (int z : {4, 5, 6})
            cc_mtext[z][0] = 0;
        // The limits on the counters of earlier runs, before connecting is permitted: a
        // period already over its hard limit ends the program without a dial.
        wa_grenzen();
        return;
    }
    if (linksys && s.zaehler % 2) return;
    long hoch = -1, runter = -1, kbv = 0;
    bool gestartet = cn_statistics(&hoch, &runter, &kbv);
    s.statistik.hoch = hoch;
    s.statistik.runter = runter;
    s.statistik.kbv = kbv;
    if (gestartet && s.lesen.signal.sig > 0) sr_log_verbindungsstart(s.lesen);
    snprintf(cc_mtext[6], sizeof cc_mtext[6], " %s", volumentext(kbv));
    if (hoch < 0 && runter < 0) {
        strMcpy(cc_mtext[4], " offline");
        strMcpy(cc_mtext[5], " offline");
    } else {
        snprintf(cc_mtext[4], sizeof cc_mtext[4], " %s", tempotext(hoch < 0 ? 0 : hoch));
        snprintf(cc_mtext[5], sizeof cc_mtext[5], " %s", tempotext(runter < 0 ? 0 : runter));
    }
    snprintf(cc_mtext[7], sizeof cc_mtext[7], " %s", stundenminuten(inidat.headert));
    // The limits after every pass, also in cycles without network service, which still
    // count traffic.
    wa_grenzen_t g = wa_grenzen();
    cc_mtext[6][0] = g.markev;
    cc_mtext[7][0] = g.markez;
}

// The numbers of the frontend record, every cycle.
void mt__frontendzahlen() {
    const mt__schleife_t& s = mt__s;
    TDRIOw(volume, static_cast<unsigned long>(inidat.headerv + inidat.headervoffset / 1000));
    TDRIOw(time, static_cast<unsigned long>(inidat.headert));
    TDRIOw(online_time, (onlinezeit + 99) / 100);
    TDRIOw(offline_time, (offlinezeit + 99) / 100);
    TDRIOw(upspeed, static_cast<unsigned long>(s.statistik.hoch < 0 ? 0 : s.statistik.hoch));
    TDRIOw(downspeed, static_cast<unsigned long>(s.statistik.runter < 0 ? 0 : s.statistik.runter));
    TDRIOw(opmode, static_cast<unsigned char>(s.lesen.netz.ba < 0 ? 0 : s.lesen.netz.ba));
    TDRIOw(battery, static_cast<unsigned char>(akkufuellstand));
}

// Step 19: connecting is permitted once per start, when the network and the signal have
// been read.
void mt__verbindenfreigeben() {
    mt__schleife_t& s = mt__s;
    bool x = MODUS('X');
    bool signal = s.lesen.signal.sig >= 0;
    if (x && signal && s.zaehler >= 1 && s.zaehler <= 9998) beep(200, 50);
    if (s.zaehler > 9998) return;
    if ((signal && s.zaehler >= (x ? 5 : 1)) || (geraet == 11 && s.zaehler > 3) ||
        (geraet == 5 && s.zaehler > 2) || cm_issim()) {
        if (x) beep(900, 50);
        lo_slog(_de ? "Verbinden freigegeben.\n" : "Permitted to connect.\n", "", -1);
        verbindenverboten = false;
        s.zaehler = 9999;
    }
}

// Step 20, the SMS part: read every fourth cycle and while a message waits to be deleted,
// send on the cycles between. A backlog is read a few messages a cycle.
void mt__sms() {
    const mt__schleife_t& s = mt__s;
    if (geraet == 2 && !novateldll) return;
    if (s.zaehler % 4 == 0 || sm_msgzustand == 2) {
        for (int i = 0; i < 4; i++) {
            if (sm_msgholen() != 2) break;
            th_msleepexit(200);
            if (sm_msgholen() != 0 || !sm_weitere()) break;
        }
    }
    if (s.zaehler % 4 == 3) sm_msgsenden();
}

// Step 15: the prepaid requests of the menu, the code dialog and the frontend record.
void mt__prepaid() {
    char t[1000];
    prepaid_aufgaben(inidat.ppq, inidat.ppc, nullptr, t);
}

// Step 18: the homezone is asked about every 100 cycles, within 2 cycles of a new
// connection, sooner after a cell change; a change of state is logged.
void mt__homezone() {
    if (!inidat.homu[0]) return;
    int z = homezonezaehler.load();
    if (z > 100) z = 0;
    if (z != 0) {
        homezonezaehler = z + 1;
        return;
    }
    int vorher = homezonestatus.load();
    cm_homezonequery();
    homezonezaehler = 1;
    int jetzt = homezonestatus.load();
    if (jetzt == vorher) return;
    static const char* const texte[3][2] = {
        {"Homezonestatus unbekannt.\n", "Homezone status unknown.\n"},
        {"In der Homezone.\n", "Inside Homezone.\n"},
        {"Nicht in der Homezone.\n", "Not inside Homezone.\n"}};
    const char* text = texte[jetzt >= 0 && jetzt <= 2 ? jetzt : 0][_de ? 0 : 1];
    lo_slog(text, "", -1);
    char zeile[100];
    snprintf(zeile, sizeof zeile, "%%s %s", text);
    lo_vlog(zeile, "", -1);
    if (vorher == 1 && jetzt == 2)
        for (int i = 0; i < 4; i++) {
            beep(600, 100);
            th_msleepexit(100);
        }
    if (jetzt == 0 && onlinezeit != 0) homezonezaehler = -10;
}

// A call the call detection noted: acted on here, at a check point of the main thread,
// never inside the read of another command's answer.
void mt__anruf() {
    char nummer[CM_NUMMERGROESSE];
    if (!cm_anrufholen(nummer, sizeof nummer)) return;
    bool ende = false;
    rk_anruf(nummer, &ende);
    if (ende) ps_endeanfordern();
}

// A check point of the cycle: the commands of the record (and files) and a noted call.
void mt__kommandos(bool auch_datei) {
    dateikommandoholen(auch_datei);
    mt__anruf();
}

// Step 21: the operator's image compression could not be switched off.
void mt__kdfehler() {
    if (!iz_kdfehler.exchange(false)) return;
    lo_vlog(_de ? "%s Grafikomprimierer konnte nicht abgeschaltet werden.\n"
                : "%s Could not deactivate graphics compressor.\n",
            "", -1);
    cc_show2(_de ? "+Grafiken nur komprimiert." : "+Graphics compressed only.",
             _de ? "+Grafiken_komprimiert." : "+Graphics_compressed.");
}

// One cycle of the main loop. False: the program rested and starts again.
bool mt__zyklus() {
    mt__schleife_t& s = mt__s;
    if (s.zaehler % 3 == 0) lo_slogx("Main thread alive.\n", "", -1);
    // A requested radio mode.
    int ba = ba_gewuenscht.exchange(0);
    if (ba >= 1 && ba <= 9) {
        if (!de_iniopmode(ba, 1)) {
            cn_stop(2);
            th_msleepexit(1000);
            if (de_iniopmode(ba, 3)) inidat.funktion = ba;
        } else {
            inidat.funktion = ba;
        }
    }
    mt__endp("ENDPmain10.");
    mt__kommandos(false);
    int r = sr_netz(s.lesen);
    if (r == SR_NEUSTART) return false;
    if (r == SR_ENDE) programmende(true);
    if (!s.lesen.netsearching && onlinezeit == 0)
        ic_mshow(2, 0, -1, -1, -1, _de ? "Nicht verbunden." : "Not connected.");
    mt__kommandos(false);
    if (MODUS('F') && s.zaehler > 1) {
        sr_signal(s.lesen, true);
        cc_show();
    }
    sr_betriebsart(s.lesen);
    mt__endp("ENDPmain20.");
    if (programmende(false)) return false;
    sr_ort(s.lesen);
    sr_signal(s.lesen, !MODUS('F'));
    mt__kommandos(false);
    mt__endp("ENDPmain30.");
    mt__statistik();
    if (ss_netzunbekannt(s.lesen.netz.name) &&
        memicmp(s.lesen.netz.name, "Limited Service", 15) == 0) {
        if (s.zaehler == 0 && --s.zaehlerlimited <= 0) {
            s.zaehlerlimited = 30;
            lo_vlog(_de ? "%s Dienst nicht verfügbar.\n" : "%s Network service not available.\n",
                    "", -1);
            mt__zeige("*Dienst nicht verfügbar.", "*Network service not available.",
                      "*Dienst_nicht_verfügbar.", "*No_service.", 4000);
            if (programmende(false)) return false;
        }
        sr_recordnetz(nullptr);
    } else {
        sr_publizieren(s.lesen, s.zaehler, s.statistik);
        // Step 15: prepaid; step 16: the menu's update query, taken once per pick.
        if (s.zaehler > 0) mt__prepaid();
        if (s.zaehler > 0 && update_gewuenscht) se_updatequery();
        if (s.zaehler > 0) {
            mt__homezone();
            mt__verbindenfreigeben();
            mt__kommandos(s.zaehler % 4 == 2);
            mt__sms();
        }
        mt__kdfehler();
        if (++s.zaehler > 21999) s.zaehler = 10000;
        mt__endp("ENDPmain50.");
        if (programmende(false)) return false;
    }
    // A request from the menu, a signal or a remote command ends the pause at once and is
    // taken at the check point right after it, not a whole cycle later.
    mt__frontendzahlen();
    bool geweckt = ii_pause(1800 + (MODUS('X') ? 8000 : 0));
    th_msleepexit(0); // parks here when the program terminates
    // A frontend's command is taken at once, not after the next cycle's first readings.
    if (ii_kommandoda()) dateikommandoholen(false);
    mt__anruf();
    if (geweckt && programmende(false)) return false;
    return true;
}

// The waits of a restart before the start runs again.
void mt__neustart() {
    lo_slogx("ENDP800.\n", "", -1);
    long warte = linksys ? 6000 : geraet == 2 ? 15000 : geraet == 6 ? 18000 : 6000;
    th_msleepexit(warte);
    mt__s.lesen.netz.ba = 0;
    mt__s.lesen.netz.ba_alt = -1;
    cm_postini();
}

} // namespace

gpointer mt_mainthread(gpointer) {
    th_register("mainthread");
    // Once per process, never again after a rest: the tick's time base goes on.
    ti_ini();
    ic_ini();
    iz_ini();
    cm_ini();
    ii_ini();
    for (;;) {
        if (mt__start()) {
            while (mt__zyklus()) {
            }
        }
        ruhestatus = 4;
        mt__neustart();
    }
}
