// The button-dialog markup as the program writes it: the installer's questions, other
// separators, defaults, missing fields and too many buttons.
#include "ui/buttondialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct spalte {
    int antwort;
    std::string label, beschreibung;
};

struct fall {
    const char* name;
    const char* markup;
    char icon;
    std::string kopf, text;
    int standard;
    std::vector<spalte> spalten;
};

const fall faelle[] = {
    {"installer question, English",
     "|q#tandor   Installation/Update#Please choose the mode of installation resp. update\n"
     "(files in the chosen directory will be updated).|+1#Standard#Directory \"~/tandor\"\n"
     "shall be used.|2#Manuell#Installation directory\nshall be chosen manually.|0#Cancel#"
     "Cancel installation\nresp. update.",
     'q',
     "tandor   Installation/Update",
     "Please choose the mode of installation resp. update\n(files in the chosen directory will "
     "be updated).",
     0,
     {{1, "Standard", "Directory \"~/tandor\"\nshall be used."},
      {2, "Manuell", "Installation directory\nshall be chosen manually."},
      {0, "Cancel", "Cancel installation\nresp. update."}}},
    {"installer question, German",
     "|q#tandor   Installation/Update#Bitte die Art der Installation bzw. des Updates "
     "w\xe4hlen\n(Dateien im Zielverzeichnis werden aktualisiert).|+1#Standard#Standard-"
     "Verzeichnis\n\"~/tandor\" verwenden.|2#Manuell#Installationsverzeichnis\nmanuell "
     "ausw\xe4hlen.|0#Abbrechen#Installation bzw.\nUpdate abbrechen.",
     'q',
     "tandor   Installation/Update",
     "Bitte die Art der Installation bzw. des Updates w\xe4hlen\n(Dateien im Zielverzeichnis "
     "werden aktualisiert).",
     0,
     {{1, "Standard", "Standard-Verzeichnis\n\"~/tandor\" verwenden."},
      {2, "Manuell", "Installationsverzeichnis\nmanuell ausw\xe4hlen."},
      {0, "Abbrechen", "Installation bzw.\nUpdate abbrechen."}}},
    {"system package notice: one button without description",
     "|i#tandor   Update#tandor has already been installed as program\npackage on this "
     "System.\n\nsudo cp /opt/x/tandor /usr/bin/tandor|0#Cancel",
     'i',
     "tandor   Update",
     "tandor has already been installed as program\npackage on this System.\n\nsudo cp "
     "/opt/x/tandor /usr/bin/tandor",
     -1,
     {{0, "Cancel", ""}}},
    {"default in the middle",
     "|q#Title#Text|1#A|+2#B|0#C",
     'q',
     "Title",
     "Text",
     1,
     {{1, "A", ""}, {2, "B", ""}, {0, "C", ""}}},
    {"other separators, a field separator per item",
     ";w/Head/Body/ignored;3*Label*Description*ignored;+7-Go-;x",
     'w',
     "Head",
     "Body",
     1,
     {{3, "Label", "Description"}, {7, "Go", ""}, {0, "", ""}}},
    {"the last '+' is the default; '+' without digit is a separator",
     "|e#T|+1#A|+2#B|+#C+D",
     'e',
     "T",
     "",
     1,
     {{1, "A", ""}, {2, "B", ""}, {0, "#C", "D"}}},
    {"a digit alone and an empty label keep their column",
     "|i#T#X|5|4##only text",
     'i',
     "T",
     "X",
     -1,
     {{5, "", ""}, {4, "", "only text"}}},
    {"head without heading: the title is Message", "|q", 'q', "Message", "", -1, {}},
    {"empty text", "", 0, "Message", "", -1, {}},
    {"a text with '&' and '<' is kept as it is",
     "|i#AT&T <b>#a < b && c|1#<OK>&",
     'i',
     "AT&T <b>",
     "a < b && c",
     -1,
     {{1, "<OK>&", ""}}},
};

TEST(ButtonMarkup, ProgramTextsAndVariants) {
    for (const fall& f : faelle) {
        SCOPED_TRACE(f.name);
        bd_markup_t m;
        ASSERT_TRUE(bd_parse(f.markup, &m));
        EXPECT_EQ(m.icon, f.icon);
        EXPECT_EQ(std::string(m.heading), f.kopf);
        EXPECT_EQ(std::string(m.text), f.text);
        EXPECT_EQ(m.buttdef, f.standard);
        ASSERT_EQ(m.buttn, (int)f.spalten.size());
        for (int c = 0; c < m.buttn; c++) {
            EXPECT_EQ(m.buttret[c], f.spalten[c].antwort) << "column " << c;
            EXPECT_EQ(std::string(m.label[c]), f.spalten[c].label) << "column " << c;
            EXPECT_EQ(std::string(m.description[c]), f.spalten[c].beschreibung) << "column " << c;
        }
    }
}

TEST(ButtonMarkup, NullContentIsAnEmptyDialog) {
    bd_markup_t m;
    ASSERT_TRUE(bd_parse(nullptr, &m));
    EXPECT_STREQ(m.heading, "Message");
    EXPECT_EQ(m.buttn, 0);
    EXPECT_FALSE(bd_parse("|q#T", nullptr));
}

TEST(ButtonMarkup, TwelveButtonItemsGiveTen) {
    std::string s = "|q#T#X";
    for (int i = 0; i < 12; i++)
        s += "|" + std::to_string(i % 10) + "#B" + std::to_string(i);
    bd_markup_t m;
    ASSERT_TRUE(bd_parse(s.c_str(), &m));
    ASSERT_EQ(m.buttn, bd_MAXBUTTONS);
    EXPECT_STREQ(m.label[9], "B9");
    EXPECT_EQ(m.buttret[9], 9);
}

TEST(ButtonMarkup, OverlongFieldsAreCutToTheirRoom) {
    std::string lang(5000, 'x');
    std::string s = "|q#" + lang + "#" + lang + "|1#" + lang + "#" + lang + "|2#B";
    bd_markup_t m;
    ASSERT_TRUE(bd_parse(s.c_str(), &m));
    EXPECT_EQ(std::string(m.heading).size(), sizeof m.heading - 1);
    EXPECT_EQ(std::string(m.text).size(), sizeof m.text - 1);
    EXPECT_EQ(std::string(m.label[0]).size(), sizeof m.label[0] - 1);
    EXPECT_EQ(std::string(m.description[0]).size(), sizeof m.description[0] - 1);
    ASSERT_EQ(m.buttn, 2);
    EXPECT_STREQ(m.label[1], "B");
}

} // namespace
