// A dialog waits while the user iconifies the main window, which replaces the window by
// the tray icon and so destroys the dialog's parent: the dialog answers, nothing hangs.
#include "mainwindow_fixture.h"
#include "ui/buttondialog.h"
#include "ui/inputdialog.h"
#include "ui/messagebox.h"

#include <future>

namespace mwt {
namespace {

int zahlfenster() {
    int n = 0;
    GList* l = gtk_window_list_toplevels();
    for (GList* p = l; p; p = p->next)
        if (gtk_widget_get_visible(GTK_WIDGET(p->data)) && p->data != mainwindow) n++;
    g_list_free(l);
    return n;
}

void iconifizierenwaehrendwarten(std::function<int()> dialog) {
    zeige(fefo_NORMAL);
    int vorher = gesperrt(zahlfenster);
    auto antwort = std::async(std::launch::async, dialog);
    ASSERT_TRUE(warte([&] { return zahlfenster() > vorher; }));
    gesperrt([] { gtk_window_iconify(GTK_WINDOW(mainwindow)); });
    ASSERT_TRUE(warte([] { return fefo == fefo_ICON && !mainwindow; }));
    ASSERT_EQ(antwort.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "the dialog still waits after its parent window was replaced";
    EXPECT_EQ(antwort.get(), 0);
}

TEST_F(Fenster, IconifyingWhileAMessageBoxWaits) {
    iconifizierenwaehrendwarten([] { return me_messagebox(0, "tandor", "Frage?", 3, 2, 0); });
}

TEST_F(Fenster, IconifyingWhileAButtonDialogWaits) {
    iconifizierenwaehrendwarten([] {
        return bd_buttondialog("|q#tandor   Test#Welche?|+1#Eins#Die erste.|2#Zwei#Die zweite.", 0);
    });
}

TEST_F(Fenster, IconifyingWhileAnInputDialogWaits) {
    iconifizierenwaehrendwarten([] {
        char text[50];
        int r = ce_inputdialog(ce_ARTPIN, "tandor   PIN", "PIN:", text);
        return r;
    });
}

} // namespace
} // namespace mwt
