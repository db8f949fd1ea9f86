// The real binary in the icon form on a display of its own: its main tray icon embedded in a
// tray host, the pixels on screen compared with the pictures drawn from the icon patterns
// (network search, online with a UMTS letter and signal bars, a flashing foreign-network
// warning), and the mini window standing in while no tray host is there.
#include "modem/modemsimulator.h"
#include "tandorrun.h"
#include "trayrows.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Form digit (offset 28) 4: the program lives in the tray.
const std::string KOPF = "01 0AA000000123-0000000000004-0000043" + std::string(16, '0');

// A picture as 22 rows of 22 characters: '.' transparent, 'x' black, 'r' red, 'b' blue,
// '-' dark yellow, 'y' yellow, 'L' light blue.
using Bild = std::vector<std::string>;

const Bild& VERKEHR = tr_verkehr;
const Bild& WARNUNG = tr_warnung;
// The large U, rows 11-20, columns 0-8.
const Bild U_GROSS = {
    ".xx....xx", ".xx....xx", ".xx....xx", ".xx....xx", ".xx....xx",
    ".xx....xx", ".xx....xx", ".xx....xx", "..xxxxxx.", "...xxxx..",
};

Bild suchbild() {
    Bild b = VERKEHR;
    for (std::string z : tr_netzsuche) {
        for (char& c : z)
            if (c == '#') c = 'x'; // the monochrome colour is black without MOD=B
        b.push_back(z);
    }
    return b;
}

// Online on UMTS: the traffic symbol on light blue, transparent corners, the U and the bars
// (bar i at columns 11+2i and 12+2i, from row 20 upwards over i+3 rows).
Bild onlinebild(int balken) {
    Bild b = VERKEHR;
    b.resize(22, std::string(22, 'L'));
    for (auto& z : b)
        for (char& c : z)
            if (c == '.') c = 'L';
    b[0][0] = b[0][21] = b[21][0] = b[21][21] = '.';
    for (int r = 0; r < 10; r++)
        for (int c = 0; c < 9; c++)
            if (U_GROSS[r][c] == 'x') b[11 + r][c] = 'x';
    for (int i = 0; i < balken; i++)
        for (int r = 20; r > 20 - (i + 3); r--)
            b[r][11 + 2 * i] = b[r][12 + 2 * i] = 'x';
    return b;
}

Bild warnbild(char fuellung) {
    Bild b = WARNUNG;
    for (auto& z : b)
        for (char& c : z)
            if (c == '-') c = fuellung;
    return b;
}

int farbe(char c) {
    switch (c) {
    case 'x':
        return 0x000000;
    case 'r':
        return 0xFF0000;
    case 'b':
        return 0x0000FF;
    case 'y':
        return 0xFFFF00;
    case '-':
        return 0x9F9F00;
    case 'L':
        return 0x8080FF;
    default:
        return -1;
    }
}

// A screen pixel written in the picture's characters; '.' the tray background, '?' other.
char zeichen(int rgb, int hintergrund) {
    if (rgb == hintergrund) return '.';
    for (char c : std::string("xrby-L"))
        if (farbe(c) == rgb) return c;
    return '?';
}

// The pixels of a window as the X server holds them.
struct Aufnahme {
    int b = 0, h = 0;
    std::string rgba;
    int rgb(int x, int y) const {
        const auto* p = reinterpret_cast<const unsigned char*>(rgba.data()) + (y * b + x) * 4;
        return p[0] << 16 | p[1] << 8 | p[2];
    }
};

// Where a 22 x 22 picture is centred in the capture; the tray background comes from a pixel
// outside it (-1 when the slot is exactly 22 x 22, and transparent pixels go unchecked).
// Returns "" when the screen shows soll, else the rows that differ, both as text.
std::string abweichung(const Aufnahme& a, const Bild& soll) {
    if (a.b < 22 || a.h < 22)
        return "icon window " + std::to_string(a.b) + "x" + std::to_string(a.h) + " < 22x22";
    std::string bester;
    int besterfehler = 1 << 30;
    for (int ox : {(a.b - 22) / 2, (a.b - 21) / 2})
        for (int oy : {(a.h - 22) / 2, (a.h - 21) / 2}) {
            int hg = ox > 0 || oy > 0 ? a.rgb(0, 0) : -1;
            std::ostringstream text;
            int fehler = 0;
            for (int r = 0; r < 22; r++) {
                std::string ist;
                bool gleich = true;
                for (int c = 0; c < 22; c++) {
                    int px = a.rgb(ox + c, oy + r), f = farbe(soll[r][c]);
                    ist += zeichen(px, hg);
                    if (f >= 0 ? px != f : hg >= 0 && px != hg) gleich = false, fehler++;
                }
                if (!gleich)
                    text << "row " << (r < 10 ? " " : "") << r << " expected " << soll[r]
                         << "\n       on screen " << ist << "\n";
            }
            if (fehler < besterfehler) besterfehler = fehler, bester = text.str();
        }
    return bester;
}

struct TrayRun : TandorRun {
    std::string ctl = dir + "/pppd";
    ts_modemsim daten, befehl;
    int xvfb = -1, trayer = -1;

    void SetUp() override {
        TandorRun::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(eigenesdisplay()) << ts_readfile(dir + "/xvfb.txt");
        ASSERT_TRUE(daten.start({"--type", "3", "--nopin", "--signal", "15"}));
        ASSERT_TRUE(befehl.start({"--type", "3", "--nopin", "--signal", "15"}));
        befehl.control("register 0");
        mkdir(ctl.c_str(), 0755);
        ts_writefile(dir + "/tandor.ini", KOPF + "\nMOD=PIJ\nLAN=English\nCOM=/dev/ttyUSB1\n"
                                                 "CON=/dev/ttyUSB0\nCONA=SE\n"
                                                 "APN=internet.t-mobile\nNET=;T-Mobile D;26201\n");
    }
    void TearDown() override {
        TandorRun::TearDown();
        ts_pppdweg(ctl);
        beende(trayer);
        beende(xvfb);
    }
    static void beende(int& p) {
        if (p <= 0) return;
        kill(p, SIGTERM);
        if (ts_waitpid(p, 3000) == -1) {
            kill(p, SIGKILL);
            ts_waitpid(p, 3000);
        }
        p = -1;
    }
    // An Xvfb on a display number of 200-299 that nobody holds. Two runs may pick the same
    // number at once: the loser's Xvfb ends at once (the lock file names the winner), and it
    // tries the next number.
    bool eigenesdisplay() {
        for (int k = 0; k < 100; k++) {
            int n = 200 + (getpid() + k) % 100;
            std::string nr = std::to_string(n), sock = "/tmp/.X11-unix/X" + nr;
            struct stat st;
            if (stat(sock.c_str(), &st) == 0 || stat(("/tmp/.X" + nr + "-lock").c_str(), &st) == 0)
                continue;
            xvfb = ts_spawn({"Xvfb", ":" + nr, "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                            dir + "/xvfb.txt");
            for (int t = 0; t < 100 && xvfb > 0; t++) {
                if (ts_waitpid(xvfb, 0) != -1)
                    xvfb = -1; // lost the number
                else if (atoi(ts_readfile("/tmp/.X" + nr + "-lock").c_str()) == xvfb &&
                         stat(sock.c_str(), &st) == 0) {
                    setenv("DISPLAY", (":" + nr).c_str(), 1);
                    return true;
                } else
                    usleep(100000);
            }
            beende(xvfb);
        }
        return false;
    }
    // trayer as tray host; 28 pixels high, so the slot holds the picture with a border of
    // tray background above and below.
    void starttrayer() {
        trayer = ts_spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel",
                           "--width", "120", "--height", "28", "--SetDockType", "true",
                           "--transparent", "false"},
                          dir + "/trayer.txt");
    }
    void starte() {
        pid = ts_spawn(ts_netzstart(dir, daten.port, ctl, 9, {"ttyUSB1", befehl.port}),
                       dir + "/stdout.txt");
    }
    std::set<std::string> fenster(const std::string& suche) {
        std::set<std::string> s;
        std::istringstream aus(ts_output("xdotool search " + suche + " 2>/dev/null"));
        for (std::string w; aus >> w;)
            s.insert(w);
        return s;
    }
    // The viewable tray icon of that name whose parent is not the root window (embedded in a
    // tray host); "" when there is none.
    std::string eingebettet(const std::string& name) {
        std::string wurzel =
            ts_output("xwininfo -root | sed -n 's/.*Window id: \\(0x[0-9a-f]*\\).*/\\1/p'");
        for (const auto& w : fenster("--onlyvisible --classname '^" + name + "$'")) {
            std::string eltern =
                ts_output("xwininfo -tree -id " + w +
                          " | sed -n 's/.*Parent window id: \\(0x[0-9a-f]*\\).*/\\1/p'");
            if (!eltern.empty() && eltern != wurzel) return w;
        }
        return "";
    }
    // The program's visible windows other than its tray icons (the mini window).
    std::set<std::string> fensterohneicons() {
        std::set<std::string> s = fenster("--onlyvisible --pid " + std::to_string(pid));
        for (const auto& w : fenster("--classname '^tandor-'"))
            s.erase(w);
        return s;
    }
    Aufnahme aufnahme(const std::string& w) {
        Aufnahme a;
        std::string geo = ts_output("xwininfo -id " + w);
        size_t b = geo.find("Width: "), h = geo.find("Height: ");
        if (b == std::string::npos || h == std::string::npos) return a;
        std::string datei = dir + "/icon.rgba";
        unlink(datei.c_str());
        if (system(("import -window " + w + " -depth 8 rgba:" + datei + " 2>/dev/null").c_str()))
            return a;
        a.rgba = ts_readfile(datei);
        a.b = atoi(geo.c_str() + b + 7);
        a.h = atoi(geo.c_str() + h + 8);
        if ((int)a.rgba.size() != a.b * a.h * 4) a.b = a.h = 0;
        return a;
    }
    // Waits up to ms until the embedded icon shows soll; "" then, else the last difference.
    std::string wartebild(const std::string& name, const Bild& soll, long ms) {
        std::string rest = name + " not embedded";
        for (long t = 0; t < ms; t += 250) {
            std::string w = eingebettet(name);
            if (!w.empty()) {
                rest = abweichung(aufnahme(w), soll);
                if (rest.empty()) return "";
            }
            usleep(250000);
        }
        return rest;
    }
};

TEST_F(TrayRun, TheMainIconShowsSearchThenOnlineAndAForeignNetworkFlashesTheWarning) {
    starttrayer();
    for (int t = 0; t < 50 && fenster("--classname '^panel$'").empty(); t++)
        usleep(100000);
    starte();
    std::string w;
    for (int t = 0; t < 100 && (w = eingebettet("tandor-main")).empty(); t++)
        usleep(100000);
    ASSERT_FALSE(w.empty()) << "no main icon in the tray within 10 s\n" << protokolle();
    Aufnahme a = aufnahme(w);
    ASSERT_GE(a.b, 22);
    ASSERT_GE(a.h, 22);

    std::string rest = wartebild("tandor-main", suchbild(), 20000);
    EXPECT_EQ(rest, "") << "network search\n" << rest;

    befehl.control("register 1");
    ASSERT_TRUE(wartelog("Connection established.", 1, 90000)) << protokolle();
    // Raw signal 15 is 50 %: four bars.
    rest = wartebild("tandor-main", onlinebild(4), 15000);
    EXPECT_EQ(rest, "") << "online on UMTS\n" << rest;

    befehl.control("network Fremdnetz 26203");
    rest = wartebild("tandor-warning", warnbild('-'), 30000);
    if (!rest.empty()) rest = wartebild("tandor-warning", warnbild('y'), 2000);
    ASSERT_EQ(rest, "") << "foreign network\n" << rest << protokolle();
    bool dunkel = false, hell = false;
    std::string letzte;
    for (auto ende = std::chrono::steady_clock::now() + std::chrono::seconds(3);
         std::chrono::steady_clock::now() < ende; usleep(150000)) {
        Aufnahme b = aufnahme(eingebettet("tandor-warning"));
        if (abweichung(b, warnbild('-')).empty())
            dunkel = true;
        else if ((letzte = abweichung(b, warnbild('y'))).empty())
            hell = true;
    }
    EXPECT_TRUE(dunkel) << "never dark yellow in 3 s";
    EXPECT_TRUE(hell) << "never yellow in 3 s\n" << letzte;

    // A left or a right click on an icon opens the program menu.
    for (const char* knopf : {"1", "3"}) {
        SCOPED_TRACE(std::string("button ") + knopf);
        std::set<std::string> vorher = fensterohneicons();
        w = eingebettet("tandor-main");
        ASSERT_EQ(system(("xdotool mousemove --window " + w + " 11 11 click " + knopf).c_str()), 0);
        bool menue = false;
        for (int t = 0; t < 30 && !menue; t++, usleep(100000))
            menue = fensterohneicons().size() > vorher.size();
        EXPECT_TRUE(menue) << "no menu";
        system("xdotool key Escape");
        usleep(500000);
    }
}

// A running copy and a CONTROL copy started in its IPC namespace, each with the normal
// window (the control copy's beside the other, with a directory and configuration of its
// own). The control program writes no logs: what it shows is read from its window: the
// title carries the icons' codes, and its status field is compared pixel by pixel with the
// running copy's (same program, same font, same display).
struct ControlRun : TrayRun {
    std::string cdir = dir + "/control";
    int control = -1, control2 = -1;

    void SetUp() override {
        TrayRun::SetUp();
        if (HasFatalFailure()) return;
        std::string ini = ts_readfile(dir + "/tandor.ini");
        ini[28] = '1';
        ts_writefile(dir + "/tandor.ini", ini);
        mkdir(cdir.c_str(), 0755);
        std::string kopf = KOPF;
        kopf.replace(16, 8, "04000300"); // at x 400, y 300
        kopf[28] = '1';
        ts_writefile(cdir + "/tandor.ini", kopf + "\nMOD=P\nLAN=English\n");
    }
    void TearDown() override {
        beende(control);
        beende(control2);
        TrayRun::TearDown();
    }
    int startecontrol(const std::string& aus) {
        return ts_spawn({"nsenter", "-i", "-t", std::to_string(pid), TANDOR_BINARY, "CONTROL",
                         "DIR=" + cdir, "INSTANCE=9", "NOSPLASH", "MUTE"},
                        dir + "/" + aus);
    }
    // The visible window of process p other than its tray icons; "" when there is none.
    std::string fenstervon(int p) {
        std::set<std::string> s = fenster("--onlyvisible --pid " + std::to_string(p));
        for (const auto& w : fenster("--classname '^tandor-'"))
            s.erase(w);
        return s.empty() ? "" : *s.begin();
    }
    std::string titel(const std::string& w) {
        std::string t = ts_output("xdotool getwindowname " + w + " 2>/dev/null");
        while (!t.empty() && t.back() == '\n')
            t.pop_back();
        return t;
    }
    // The title starts with the code of the flashing warning icon.
    bool warncode(const std::string& w) {
        std::string t = titel(w);
        return t.rfind("[$", 0) == 0 || t.rfind("[!!", 0) == 0;
    }
    // The status field: the top third of the window (three rows of fields).
    static std::string statusfeld(const Aufnahme& a) {
        if (a.b == 0) return "";
        return a.rgba.substr(0, size_t(a.b) * 4 * (a.h / 3 - 2));
    }
    static double anteil(const Aufnahme& a, int rgb) {
        int n = 0, treffer = 0;
        for (int y = 0; y < a.h / 3 - 2; y++)
            for (int x = 0; x < a.b; x++, n++)
                treffer += a.rgb(x, y) == rgb;
        return n ? double(treffer) / n : 0;
    }
    // A field of the record as the frontend peer reads it ("" when it cannot attach).
    std::string satz(const std::string& feld) {
        std::string aus = ts_output(ts_helper("helper_frontendpeer") + " " + std::to_string(pid) +
                                    " read 0x515256F9 2>/dev/null");
        size_t a = aus.find("\n" + feld + "=");
        if (a == std::string::npos) return "";
        a += feld.size() + 2;
        return aus.substr(a, aus.find('\n', a) - a);
    }
    static void endet(int& p) {
        kill(p, SIGTERM);
        int st = ts_waitpid(p, 15000);
        EXPECT_TRUE(st != -1 && WIFEXITED(st) && WEXITSTATUS(st) == 0) << st;
        if (st == -1) beende(p);
        p = -1;
    }
};

TEST_F(ControlRun, AControlCopyMirrorsTheRunningCopyAndItsMenuDisconnects) {
    starttrayer();
    starte();
    befehl.control("register 1");
    ASSERT_TRUE(wartelog("Connection established.", 1, 90000)) << protokolle();
    befehl.control("network Fremdnetz 26203");
    ASSERT_TRUE(ts_waitfor(dir + "/connlog.txt", "Unwanted network: Fremdnetz", 20000))
        << protokolle();
    std::string haupt = fenstervon(pid);
    ASSERT_FALSE(haupt.empty());
    for (int t = 0; t < 50 && !warncode(haupt); t++)
        usleep(100000);
    ASSERT_TRUE(warncode(haupt)) << titel(haupt);

    // Within 2 s of its window: the running copy's status line and the warning icon.
    control = startecontrol("control.txt");
    std::string w;
    for (int t = 0; t < 150 && (w = fenstervon(control)).empty(); t++)
        usleep(100000);
    ASSERT_FALSE(w.empty()) << "no CONTROL window\n" << ts_readfile(dir + "/control.txt");
    auto bis = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    bool gleich = false, warnung = false;
    while (std::chrono::steady_clock::now() < bis && !(gleich && warnung)) {
        usleep(100000);
        std::string f = statusfeld(aufnahme(w));
        gleich = !f.empty() && f == statusfeld(aufnahme(haupt));
        warnung = warncode(w);
    }
    EXPECT_TRUE(gleich) << "the status fields differ";
    EXPECT_LT(anteil(aufnahme(haupt), 0xFFFFFF), 0.98) << "no status line to compare";
    EXPECT_TRUE(warnung) << titel(w);
    // Its own warning icon is embedded beside the running copy's.
    std::set<std::string> warnicons;
    for (int t = 0; t < 30 && warnicons.size() < 2; t++, usleep(100000))
        warnicons = fenster("--onlyvisible --classname '^tandor-warning$'");
    EXPECT_EQ(warnicons.size(), 2u);

    // Its menu's Disconnect, from below: Exit, Mini window, Mute, CONTROL info, Disconnect.
    ASSERT_EQ(system(("xdotool mousemove --window " + w + " 80 20 click 3").c_str()), 0);
    usleep(700000);
    ASSERT_EQ(system("xdotool key Up Up Up Up Up Return"), 0);
    EXPECT_TRUE(ts_waitfor(dir + "/connlog.txt", "Connection deactivated by command.", 10000))
        << protokolle();
    bool weg = false;
    for (int t = 0; t < 50 && !weg; t++, usleep(200000))
        weg =
            ts_output(ts_helper("helper_netns") + " " + std::to_string(pid) + " counters").empty();
    EXPECT_TRUE(weg) << "ppp0 still there";

    // A CONTROL copy that ends only detaches: the running copy's record stays active.
    endet(control);
    ASSERT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "the running copy ended";
    EXPECT_GT(atol(satz("process_counter").c_str()), 0);

    // A killed running copy leaves its record behind with a counter above 0: a CONTROL copy
    // shows "+tandor not active." (notice colour) instead of the frozen state, icons off.
    control2 = startecontrol("control2.txt");
    std::string w2;
    for (int t = 0; t < 150 && (w2 = fenstervon(control2)).empty(); t++)
        usleep(100000);
    ASSERT_FALSE(w2.empty());
    for (int t = 0; t < 30 && !warncode(w2); t++)
        usleep(100000);
    ASSERT_TRUE(warncode(w2)) << "the second CONTROL copy did not attach: " << titel(w2);
    kill(pid, SIGKILL);
    ts_waitpid(pid, 5000);
    pid = -1;
    auto t0 = std::chrono::steady_clock::now();
    bool inaktiv = false;
    while (!inaktiv && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(3)) {
        usleep(100000);
        inaktiv = titel(w2) == "tandor 0.5" && anteil(aufnahme(w2), 0xFF66FF) > 0.5;
    }
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    EXPECT_TRUE(inaktiv) << titel(w2) << ", notice colour " << anteil(aufnahme(w2), 0xFF66FF);
    EXPECT_LT(ms, 2000);
    endet(control2);
}

TEST_F(TrayRun, WithoutATrayHostTheMiniWindowStandsInUntilOneAppears) {
    starte();
    std::set<std::string> mini;
    for (int t = 0; t < 50 && (mini = fensterohneicons()).empty(); t++)
        usleep(200000);
    ASSERT_FALSE(mini.empty()) << "no window within 10 s\n" << protokolle();
    std::string titel = ts_output("xdotool getwindowname " + *mini.begin());
    EXPECT_EQ(titel.rfind("tandor", 0), 0u) << titel;
    EXPECT_EQ(eingebettet("tandor-main"), "");

    starttrayer();
    bool getauscht = false;
    for (int t = 0; t < 60 && !getauscht; t++) {
        usleep(200000);
        getauscht = !eingebettet("tandor-main").empty() && fensterohneicons().empty();
    }
    EXPECT_TRUE(getauscht) << "icon embedded: " << !eingebettet("tandor-main").empty()
                           << ", windows besides the icons: " << fensterohneicons().size() << "\n"
                           << protokolle();

    kill(pid, SIGTERM);
    endetsauber(30000);
    std::string ini = ts_readfile(dir + "/tandor.ini");
    ASSERT_GT(ini.size(), 28u);
    EXPECT_EQ(ini[28], '4') << ini.substr(0, 53);
}

} // namespace
