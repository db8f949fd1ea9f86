// The language switcher: every class of widget in both languages, the combobox lists,
// texts without a second language, conversion to UTF-8, destroyed widgets and a full
// storage.
#include "core/programstate.h"
#include "core/threads.h"
#include "ui/gtkmain.h"
#include "ui/language.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include <gtk/gtk.h>

namespace {

struct Sprache : ::testing::Test {
    void SetUp() override {
        ASSERT_NE(getenv("DISPLAY"), nullptr) << "run the tests through tests/harness.sh";
        ASSERT_TRUE(gm_init(nullptr, nullptr));
        _de = true;
        th_enter();
    }
    void TearDown() override { th_leave(); }
};

std::string s(const char* t) {
    return t ? t : "(null)";
}

std::string tooltip(GtkWidget* w) {
    gchar* t = gtk_widget_get_tooltip_text(w);
    std::string r = s(t);
    g_free(t);
    return r;
}

std::string item(GtkWidget* cb, int i) {
    GtkTreeModel* m = gtk_combo_box_get_model(GTK_COMBO_BOX(cb));
    GtkTreeIter it;
    if (!gtk_tree_model_iter_nth_child(m, &it, nullptr, i)) return "(none)";
    gchar* t = nullptr;
    gtk_tree_model_get(m, &it, 0, &t, -1);
    std::string r = s(t);
    g_free(t);
    return r;
}

int items(GtkWidget* cb) {
    return gtk_tree_model_iter_n_children(gtk_combo_box_get_model(GTK_COMBO_BOX(cb)), nullptr);
}

TEST_F(Sprache, EveryClassSwitchesItsProperty) {
    GtkWidget* fenster = ls_new('W', "Einstellungen~Settings", nullptr);
    GtkWidget* knopf = ls_new('B', "Abbrechen~Cancel", "Schliesst~Closes");
    GtkWidget* rahmen = ls_new('G', "Verbindung~Connection", nullptr);
    GtkWidget* label = ls_new('L', "Tarif~Tariff", nullptr);
    GtkWidget* r1 = ls_new('R', "Automatisch~Automatic", nullptr);
    GtkWidget* r2 = ls_new('r', "Manuell~Manual", nullptr);
    GtkWidget* check = ls_new('X', "Ton aus~Mute", nullptr);
    GtkWidget* feld = ls_new('E', "nie gezeigt~never shown", "APN=");
    GtkWidget* liste = ls_new('C', "aus|ein~off|on", nullptr);
    GtkWidget* spaeter = gtk_label_new("x");
    ASSERT_TRUE(ls_element('L', spaeter, "Sp\xe4ter~Later"));
    ASSERT_TRUE(ls_element('T', spaeter, "Tipp~Tip"));
    EXPECT_EQ(ls_new('Q', "a~b", "c"), nullptr);

    // Created in the language of _de; the label is left-aligned; r joins R's group.
    EXPECT_EQ(s(gtk_window_get_title(GTK_WINDOW(fenster))), "Einstellungen");
    EXPECT_EQ(s(gtk_label_get_text(GTK_LABEL(label))), "Tarif");
    float xa, ya;
    gtk_misc_get_alignment(GTK_MISC(label), &xa, &ya);
    EXPECT_EQ(xa, 0.0f);
    EXPECT_EQ(gtk_radio_button_get_group(GTK_RADIO_BUTTON(r1)),
              gtk_radio_button_get_group(GTK_RADIO_BUTTON(r2)));
    EXPECT_TRUE(GTK_IS_ENTRY(feld));
    EXPECT_EQ(s(gtk_entry_get_text(GTK_ENTRY(feld))), "");

    struct Erwartet {
        const char *de, *en;
        std::function<std::string()> ist;
    } tabelle[] = {
        {"Einstellungen", "Settings", [&] { return s(gtk_window_get_title(GTK_WINDOW(fenster))); }},
        {"Abbrechen", "Cancel", [&] { return s(gtk_button_get_label(GTK_BUTTON(knopf))); }},
        {"Schliesst", "Closes", [&] { return tooltip(knopf); }},
        {"Verbindung", "Connection", [&] { return s(gtk_frame_get_label(GTK_FRAME(rahmen))); }},
        {"Tarif", "Tariff", [&] { return s(gtk_label_get_text(GTK_LABEL(label))); }},
        {"Automatisch", "Automatic", [&] { return s(gtk_button_get_label(GTK_BUTTON(r1))); }},
        {"Manuell", "Manual", [&] { return s(gtk_button_get_label(GTK_BUTTON(r2))); }},
        {"Ton aus", "Mute", [&] { return s(gtk_button_get_label(GTK_BUTTON(check))); }},
        {"APN=", "APN=", [&] { return tooltip(feld); }},
        {"aus/ein", "off/on", [&] { return item(liste, 0) + "/" + item(liste, 1); }},
        {"Sp\xc3\xa4ter", "Later", [&] { return s(gtk_label_get_text(GTK_LABEL(spaeter))); }},
        {"Tipp", "Tip", [&] { return tooltip(spaeter); }},
    };
    for (bool de : {false, true, false}) {
        ls_switch(de);
        for (auto& e : tabelle)
            EXPECT_EQ(e.ist(), de ? e.de : e.en);
    }
    EXPECT_EQ(s(gtk_entry_get_text(GTK_ENTRY(feld))), "");
    gtk_widget_destroy(fenster);
}

TEST_F(Sprache, ComboboxKeepsItsActiveItemAcrossTheSwitch) {
    GtkWidget* cb = ls_new('C', "Eins|Zwei~One|Two", "MOD=X");
    ASSERT_EQ(items(cb), 2);
    EXPECT_EQ(item(cb, 0), "Eins");
    gtk_combo_box_set_active(GTK_COMBO_BOX(cb), 1);
    ls_switch(false);
    EXPECT_EQ(items(cb), 2);
    EXPECT_EQ(item(cb, 0), "One");
    EXPECT_EQ(item(cb, 1), "Two");
    EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(cb)), 1);
    ls_switch(true);
    EXPECT_EQ(item(cb, 1), "Zwei");
    EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(cb)), 1);

    // A list combobox made elsewhere, recorded empty and without an active item: the items
    // are filled in and the first becomes active; items added later by the caller stay.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkWidget* alt = gtk_combo_box_new_text();
    G_GNUC_END_IGNORE_DEPRECATIONS
    ASSERT_TRUE(ls_element('C', alt, "automatisch|GPRS|UMTS~automatic|GPRS|UMTS"));
    ls_switch(false);
    ASSERT_EQ(items(alt), 3);
    EXPECT_EQ(item(alt, 0), "automatic");
    EXPECT_EQ(item(alt, 2), "UMTS");
    EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(alt)), 0);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_combo_box_append_text(GTK_COMBO_BOX(alt), "Vodafone");
    G_GNUC_END_IGNORE_DEPRECATIONS
    gtk_combo_box_set_active(GTK_COMBO_BOX(alt), 3);
    ls_switch(true);
    EXPECT_EQ(item(alt, 0), "automatisch");
    EXPECT_EQ(item(alt, 3), "Vodafone");
    EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(alt)), 3);
    gtk_widget_destroy(cb);
    gtk_widget_destroy(alt);
}

TEST_F(Sprache, TextsWithoutSecondLanguageAndMarkupStayAsTheyAre) {
    GtkWidget* gprs = ls_new('L', "GPRS", nullptr);
    GtkWidget* mark = ls_new('L', "<b>fett</b> & Co~<i>bold</i> & co", nullptr);
    GtkWidget* leer = ls_new('B', "Nur deutsch~", nullptr);
    GtkWidget* liste = ls_new('C', "A|B", nullptr);
    for (bool de : {false, true}) {
        ls_switch(de);
        EXPECT_EQ(s(gtk_label_get_text(GTK_LABEL(gprs))), "GPRS");
        EXPECT_EQ(s(gtk_label_get_text(GTK_LABEL(mark))),
                  de ? "<b>fett</b> & Co" : "<i>bold</i> & co");
        EXPECT_FALSE(gtk_label_get_use_markup(GTK_LABEL(mark)));
        EXPECT_EQ(s(gtk_button_get_label(GTK_BUTTON(leer))), de ? "Nur deutsch" : "");
        EXPECT_EQ(item(liste, 0) + item(liste, 1), "AB");
    }
    for (GtkWidget* w : {gprs, mark, leer, liste})
        gtk_widget_destroy(w);
}

// The dialog is destroyed with all its widgets while their records remain; a later switch
// (a second dialog) leaves them alone and still serves the new ones.
TEST_F(Sprache, DestroyedWidgetsAreNeverTouchedAgain) {
    GtkWidget* fenster = ls_new('W', "Eins~One", nullptr);
    GtkWidget* box = gtk_vbox_new(FALSE, 0);
    gtk_container_add(GTK_CONTAINER(fenster), box);
    for (char k : {'L', 'B', 'X', 'R', 'r', 'G', 'C'})
        gtk_box_pack_start(GTK_BOX(box), ls_new(k, "a|b~c|d", "Tipp~Tip"), FALSE, FALSE, 0);
    // One widget is kept alive past its destruction: its record must be gone all the same.
    GtkWidget* einzeln = ls_new('L', "Zwei~Two", nullptr);
    g_object_ref_sink(einzeln);
    gtk_widget_destroy(fenster);
    gtk_widget_destroy(einzeln);
    ls_switch(false);
    EXPECT_EQ(s(gtk_label_get_text(GTK_LABEL(einzeln))), "Zwei");
    g_object_unref(einzeln);
    ls_switch(true);

    // A radio button of the new dialog starts its own group instead of joining a dead one.
    GtkWidget* neu = ls_new('r', "Drei~Three", nullptr);
    EXPECT_EQ(g_slist_length(gtk_radio_button_get_group(GTK_RADIO_BUTTON(neu))), 1u);
    ls_switch(false);
    EXPECT_EQ(s(gtk_button_get_label(GTK_BUTTON(neu))), "Three");
    gtk_widget_destroy(neu);
}

TEST_F(Sprache, AFullStorageRefusesTextsWithoutWritingPastIt) {
    GtkWidget* label = gtk_label_new("");
    g_object_ref_sink(label);
    // 1999 bytes is the longest text: longer ones are cut there.
    std::string lang = std::string(1500, 'd') + "~" + std::string(1500, 'e');
    ASSERT_TRUE(ls_element('L', label, lang.c_str()));
    ls_switch(false);
    EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(label))), std::string(498, 'e'));
    ls_switch(true);
    EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(label))), std::string(1500, 'd'));

    int n = 1;
    while (ls_element('L', label, lang.c_str()))
        ASSERT_LT(++n, 100);
    // 60000 bytes hold 29 records of 2000 + class and pointer.
    EXPECT_EQ(n, 29);
    // A short text still fits into the rest; the last refusal stored nothing.
    EXPECT_TRUE(ls_element('T', label, "kurz~short"));
    ls_switch(false);
    EXPECT_EQ(tooltip(label), "short");
    EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(label))), std::string(498, 'e'));

    // Unusable calls record nothing.
    EXPECT_FALSE(ls_element('L', nullptr, "a"));
    EXPECT_FALSE(ls_element('L', label, nullptr));
    EXPECT_FALSE(ls_element('Q', label, "a"));

    ls_clear();
    GtkWidget* zweiter = gtk_label_new("");
    EXPECT_TRUE(ls_element('L', zweiter, "Neu~New"));
    ls_switch(false);
    EXPECT_EQ(s(gtk_label_get_text(GTK_LABEL(zweiter))), "New");
    EXPECT_EQ(tooltip(label), "short"); // no longer switched
    gtk_widget_destroy(zweiter);
    g_object_unref(label);
}

} // namespace
