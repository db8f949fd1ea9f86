// The text rules of the windows without a display: marker colours, the break marks of
// the mini text, the mini label's markup and the window title.
#include "ui/mainwindow.h"

#include <gtest/gtest.h>

#include <pango/pango.h>
#include <string>

namespace {

TEST(Statustext, FieldColourFollowsTheMarker) {
    EXPECT_STREQ(cc_feldfarbe('*'), "#ffaaaa");
    EXPECT_STREQ(cc_feldfarbe('+'), "#ff66ff");
    EXPECT_STREQ(cc_feldfarbe(' '), "#ffffff");
    EXPECT_STREQ(cc_feldfarbe('0'), "#ffffff");
}

TEST(Statustext, MiniColourByMarkerOnlineStateAndGprsOption) {
    struct {
        const char* text;
        bool online, gruen;
        const char* farbe;
    } faelle[] = {
        {"*Modem not responding.", true, true, "#ff0000"},
        {"*Modem not responding.", false, false, "#ff0000"},
        {"+Update_query.", true, false, "#bf00bf"},
        {"+G5 0012_Vodafone", true, true, "#bf00bf"}, // a notice stays a notice
        {" U5 0012_Vodafone", true, false, "#0000ff"},
        {" U5 0012_Vodafone", false, false, "#000000"},
        {" G5 0012_E-Plus", true, true, "#007f00"},
        {" G5 0012_E-Plus", true, false, "#0000ff"}, // without MOD=O
        {" G5 0012_E-Plus", false, true, "#000000"}, // offline
        {" Gx 0012_E-Plus", true, true, "#0000ff"},  // G without a digit
        {" L5 0012_Telekom", true, true, "#0000ff"}, // the green is for GPRS, not LTE
        {"", true, false, "#0000ff"},
    };
    for (auto& f : faelle)
        EXPECT_STREQ(cc_minifarbe(f.text, f.online, f.gruen), f.farbe)
            << f.text << " online=" << f.online << " O=" << f.gruen;
}

TEST(Statustext, MiniTextBreakMarksOneAndTwoLines) {
    struct {
        const char* ein;
        const char* einzeilig;
        const char* zweizeilig;
    } faelle[] = {
        {" Neustart /_Restart.", " Neustart / Restart.", " Neustart /\nRestart."},
        {"+Update_query.", "+Update query.", "+Update\nquery."},
        {"+Update-\\Anfrage.", "+Update-Anfrage.", "+Update-\nAnfrage."},
        {" Verbin~dung", " Verbindung", " Verbin-\ndung"},
        // '_' wins over '~' and '\'; only the first mark is edited.
        {"a~b_c_d\\e", "a~b c_d\\e", "a~b\nc_d\\e"},
        {"x~y\\z", "xy\\z", "x-\ny\\z"},
        {" Ende.", " Ende.", " Ende."},
        {"", "", ""},
    };
    for (auto& f : faelle) {
        char a[152], b[152];
        cc_minitext(a, sizeof a, f.ein);
        cc_minitext2(b, sizeof b, f.ein);
        EXPECT_STREQ(a, f.einzeilig) << f.ein;
        EXPECT_STREQ(b, f.zweizeilig) << f.ein;
    }
    // Small buffers cut the result, never overrun it.
    char klein[6];
    cc_minitext(klein, sizeof klein, "abcdefgh_ijk");
    EXPECT_STREQ(klein, "abcde");
    cc_minitext2(klein, sizeof klein, "ab~cdefgh");
    EXPECT_STREQ(klein, "ab-\nc");
}

std::string sichtbar(const char* markup, std::string* hintergrund = nullptr) {
    char* text = nullptr;
    PangoAttrList* attrs = nullptr;
    GError* err = nullptr;
    if (!pango_parse_markup(markup, -1, 0, &attrs, &text, nullptr, &err)) {
        std::string r = std::string("<markup error: ") + err->message + ">";
        g_error_free(err);
        return r;
    }
    if (hintergrund) {
        PangoAttrIterator* it = pango_attr_list_get_iterator(attrs);
        auto* a = (PangoAttrColor*)pango_attr_iterator_get(it, PANGO_ATTR_BACKGROUND);
        char s[8] = "";
        if (a)
            snprintf(s, sizeof s, "#%02x%02x%02x", a->color.red >> 8, a->color.green >> 8,
                     a->color.blue >> 8);
        *hintergrund = s;
        pango_attr_iterator_destroy(it);
    }
    std::string r = text;
    g_free(text);
    pango_attr_list_unref(attrs);
    return r;
}

TEST(Statustext, MiniMarkupShowsOperatorNamesAsTheyAre) {
    char m[1400];
    std::string bg;
    cc_minimarkup(m, sizeof m, "#0000ff", "U5 12.3\xE2\x86\x91 AT&T <Mobil> \"x\"");
    std::string t = sichtbar(m, &bg);
    EXPECT_EQ(t, " U5 12.3\xE2\x86\x91 AT&T <Mobil> \"x\"" + std::string(64, ' '));
    EXPECT_EQ(bg, "#0000ff");

    // Two lines: each padded so that the colour runs to the edge.
    cc_minimarkup(m, sizeof m, "#ff0000", "Neustart /\nRestart.");
    EXPECT_EQ(sichtbar(m),
              " Neustart /" + std::string(64, ' ') + "\n Restart." + std::string(64, ' '));
}

TEST(Statustext, IconCodesAndWindowTitle) {
    const char* keine[5] = {"", "", "", "", ""};
    const char* einige[5] = {"-", "", "c0:05", "H", "batt"};
    const char* lange[5] = {"<-|->", "!!", "x12:34:56789", "XH!", "BATT!"};
    char c[30];
    cc_codes(c, sizeof c, keine);
    EXPECT_STREQ(c, "");
    cc_codes(c, sizeof c, einige);
    EXPECT_STREQ(c, "[-[c0:05[H[batt");
    cc_codes(c, sizeof c, lange);
    EXPECT_STREQ(c, "[<-|->[!![x12:34:56789[XH![BA"); // at most 29 characters
    EXPECT_EQ(strlen(c), 29u);

    struct {
        const char* codes;
        const char* titel;
        const char* rem;
        const char* erwartet;
    } faelle[] = {
        {"", "", "", "tandor 0.5"},
        {"[-", "", "", "[- tandor 0.5"},
        {"", "work", "my stick", "work - tandor 0.5"},
        {"", "", "my stick", "my stick - tandor 0.5"},
        {"[$[H", "home", "", "[$[H home - tandor 0.5"},
    };
    char t[120];
    for (auto& f : faelle) {
        cc_titel(t, sizeof t, f.codes, f.titel, f.rem);
        EXPECT_STREQ(t, f.erwartet);
    }
    std::string lang(200, 'r');
    cc_titel(t, sizeof t, "[-", "", lang.c_str());
    EXPECT_EQ(strlen(t), 119u);
    EXPECT_EQ(std::string(t).substr(0, 4), "[- r");
}

} // namespace
