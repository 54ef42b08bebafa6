// The program's own windows drawn by Qt, with a fake port, clock, registry and programs.
#include "about/about.h"
#include "fakes.h"
#include "mainwindow/mainwindow.h"
#include "qt_support.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include <optional>

namespace larkmoor {
namespace {

using namespace qt_test;
using namespace fakes;

const QColor kTeal(0, 128, 128);

QAction* MenuAction(ui::Window& window, const char* name) {
    return QtWindowSystem::TopLevel(window)->findChild<QAction*>(name);
}

class QtMainWindow : public QtTest {
  protected:
    FakePort port; // reads 127: contact open
    FakeClock clock;
    FakeRegistry registry; // empty: no system information tool
    FakePrograms programs;
    std::optional<FrmAbout> about;
    MnuMenu menu{windows, port, clock, [this] {
                     if (!about)
                         about.emplace(windows, registry, programs);
                     about->Open();
                 }};

    QWidget* Top() { return QtWindowSystem::TopLevel(menu.Window()); }
    ui::Window* Dialog() { return about ? about->Window() : nullptr; }

    // Chooses "Exit" while Run goes on, maybe with About open, and checks what is left.
    void RunAndExit(bool withAbout) {
        if (withAbout)
            After(50, [&] { MenuAction(menu.Window(), "mnuAbout")->trigger(); });
        After(150, [&] {
            EXPECT_EQ(Dialog() != nullptr, withAbout);
            MenuAction(menu.Window(), "mnuExit")->trigger();
        });
        menu.Show();
        RunWithin(windows);
        EXPECT_FALSE(menu.Window().IsOpen());
        EXPECT_EQ(Dialog(), nullptr);
        const int reads = clock.reads;
        QTest::qWait(100);
        EXPECT_EQ(clock.reads, reads);
        DeleteClosedWidgets();
        EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
    }
};

TEST_F(QtMainWindow, ShowsItsControlsBelowTheMenuBar) {
    menu.Show();
    QWidget* top = Top();
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->objectName(), "mnuMenu");
    EXPECT_EQ(top->windowTitle(), "Larkmoor");
    EXPECT_EQ(top->parentWidget(), nullptr);
    EXPECT_EQ(top->windowModality(), Qt::NonModal);
    EXPECT_FALSE(top->windowIcon().isNull());

    QWidget* client = ClientArea(menu.Window());
    auto* bar = top->findChild<QMenuBar*>();
    ASSERT_NE(client, nullptr);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(client->size(), QSize(219, 51));
    EXPECT_GT(bar->height(), 0);
    EXPECT_EQ(client->y(), bar->height());
    EXPECT_EQ(top->size(), QSize(219, 51 + bar->height()));
    EXPECT_EQ(top->minimumSize(), top->maximumSize()) << "fixed size";

    struct Expected {
        const char* name;
        QRect rect;
    };
    for (const auto& e :
         {Expected{"lblPort", {8, 8, 97, 17}}, Expected{"lblTime", {112, 8, 97, 17}}}) {
        SCOPED_TRACE(e.name);
        auto* label = Child<QLabel>(menu.Window(), e.name);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->geometry(), e.rect);
        EXPECT_EQ(label->text(), "");
        EXPECT_TRUE(label->isVisible());
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(Qt::white));
        EXPECT_EQ(label->palette().color(QPalette::Window), kTeal);
    }

    // As drawn: teal all over, white where the time is written.
    const QRect time = Child(menu.Window(), "lblTime")->geometry();
    EXPECT_EQ(CountPixels(*client, client->rect(), kTeal), 219 * 51);
    menu.Window().Find("lblTime").SetText("88:88:88");
    EXPECT_GT(CountPixels(*client, time, Qt::white), 0);
    EXPECT_LT(CountPixels(*client, time, kTeal), time.width() * time.height() - 40);

    // "Files" drops down to "Exit"; "About" is a command on the bar itself.
    const QList<QAction*> entries = bar->actions();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0]->text(), "Files");
    ASSERT_NE(entries[0]->menu(), nullptr);
    ASSERT_EQ(entries[0]->menu()->actions().size(), 1);
    EXPECT_EQ(entries[0]->menu()->actions()[0]->text(), "Exit");
    EXPECT_EQ(entries[0]->menu()->actions()[0]->objectName(), "mnuExit");
    EXPECT_EQ(entries[1]->text(), "About");
    EXPECT_EQ(entries[1]->menu(), nullptr);
    EXPECT_EQ(entries[1]->objectName(), "mnuAbout");
}

TEST_F(QtMainWindow, FirstTickHidesThePortLabelAndShowsTheTime) {
    clock.SetNow(9, 5, 7);
    menu.Show();
    auto* lblPort = Child<QLabel>(menu.Window(), "lblPort");
    auto* lblTime = Child<QLabel>(menu.Window(), "lblTime");
    ASSERT_TRUE(QTest::qWaitFor([&] { return clock.reads > 0; }, 2000));
    EXPECT_FALSE(lblPort->isVisible());
    EXPECT_TRUE(lblTime->isVisible());
    EXPECT_EQ(lblTime->text(), "09:05:07");
}

TEST_F(QtMainWindow, TimerTicksEveryFiftyMilliseconds) {
    menu.Show();
    After(1000, [&] { windows.End(); });
    RunWithin(windows);
    // 20 ticks in a second; a busy machine may lose some, none come early.
    EXPECT_GE(clock.reads, 12);
    EXPECT_LE(clock.reads, 21);
}

TEST_F(QtMainWindow, ClosingTheFrameStopsTheTimerAndEndsRun) {
    menu.Show();
    int readsAtClose = -1;
    After(150, [&] {
        QtWindowSystem::TopLevel(menu.Window())->windowHandle()->close();
        readsAtClose = clock.reads;
    });
    RunWithin(windows);
    EXPECT_GT(readsAtClose, 0);
    EXPECT_FALSE(menu.Window().IsOpen());
    QTest::qWait(150);
    EXPECT_EQ(clock.reads, readsAtClose);
}

TEST_F(QtMainWindow, ExitEndsRunWithEveryWindowGone) {
    RunAndExit(false);
}

TEST_F(QtMainWindow, ExitWithAboutOpenEndsEverything) {
    RunAndExit(true);
}

TEST_F(QtMainWindow, AboutOpensFromTheMenuAndTheTimerGoesOn) {
    menu.Show();
    int readsAtOpen = 0, readsAtMainClose = 0;
    After(50, [&] {
        MenuAction(menu.Window(), "mnuAbout")->trigger();
        MenuAction(menu.Window(), "mnuAbout")->trigger(); // one dialog, brought to front
        readsAtOpen = clock.reads;
    });
    After(400, [&] {
        readsAtMainClose = clock.reads;
        Top()->windowHandle()->close();
    });
    After(600, [&] {
        // The main window has gone, the dialog keeps the program running.
        ASSERT_NE(Dialog(), nullptr);
        Child<QPushButton>(*Dialog(), "cmdOK")->click();
    });
    QElapsedTimer elapsed;
    elapsed.start();
    RunWithin(windows);
    EXPECT_GE(elapsed.elapsed(), 600);
    EXPECT_GE(readsAtMainClose - readsAtOpen, 4) << "the timer stood still with About open";
    EXPECT_EQ(Dialog(), nullptr);
    DeleteClosedWidgets();
    int dialogs = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        dialogs += widget->objectName() == "frmAbout";
    EXPECT_EQ(dialogs, 0);
}

class QtAbout : public QtTest {
  protected:
    FakeRegistry registry; // empty: no system information tool
    FakePrograms programs;
    FrmAbout about{windows, registry, programs};

    QWidget* Top() { return about.Window() ? QtWindowSystem::TopLevel(*about.Window()) : nullptr; }
    void OpenActive() {
        about.Open();
        ASSERT_NE(Top(), nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowActive(Top()));
    }
    QString Focused() {
        return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "";
    }
};

TEST_F(QtAbout, PlacesEachControlAtItsTwips) {
    about.Open();
    QWidget* client = ClientArea(*about.Window());
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(Top()->objectName(), "frmAbout");
    EXPECT_EQ(client->size(), QSize(382, 229));
    EXPECT_EQ(Top()->size(), QSize(382, 229)) << "no menu bar";
    EXPECT_EQ(Top()->parentWidget(), nullptr);
    EXPECT_EQ(Top()->windowModality(), Qt::NonModal);
    EXPECT_EQ(client->children().size(), 7);
    for (const auto& decl : kFrmAbout.controls) {
        SCOPED_TRACE(std::string(decl.name));
        QWidget* widget = client->findChild<QWidget*>(QString::fromUtf8(decl.name));
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget(), client);
        const auto px = [](int twips) { return twips / 15; }; // 96 dpi; all are multiples of 15
        EXPECT_EQ(widget->geometry(),
                  QRect(px(decl.left), px(decl.top), px(decl.width), px(decl.height)));
        EXPECT_EQ(qobject_cast<QPushButton*>(widget) != nullptr,
                  decl.kind == ui::ControlKind::Button);
    }
    auto* picture = Child<QLabel>(*about.Window(), "picIcon");
    EXPECT_EQ(picture->pixmap().size(), QSize(32, 32));
    EXPECT_EQ(picture->pixmap().toImage(), windows.Icon().pixmap(32, 32).toImage());
}

TEST_F(QtAbout, ShowsItsTextsInTheirColours) {
    about.Open();
    ui::Window& dialog = *about.Window();
    EXPECT_EQ(Top()->windowTitle(), "About Larkmoor");
    EXPECT_EQ(Child<QLabel>(dialog, "lblTitle")->text(), "Larkmoor");
    EXPECT_EQ(Child<QLabel>(dialog, "lblVersion")->text(), "Version 1.0.0");
    EXPECT_EQ(Child<QLabel>(dialog, "lblDescription")->text(), kDescription);
    EXPECT_EQ(Child<QLabel>(dialog, "lblDisclaimer")->text(), kDisclaimer);
    EXPECT_TRUE(Child<QLabel>(dialog, "lblDisclaimer")->wordWrap());
    auto* sysInfo = Child<QPushButton>(dialog, "cmdSysInfo");
    EXPECT_EQ(sysInfo->text(), "&System Info...");
    EXPECT_EQ(QKeySequence::mnemonic(sysInfo->text()), QKeySequence(Qt::ALT | Qt::Key_S));

    struct Expected {
        const char* label;
        QColor colour;
    };
    const Expected colours[] = {
        {"lblVersion", QApplication::palette().color(QPalette::WindowText)},
        {"lblTitle", Qt::black},
        {"lblDescription", Qt::black},
        {"lblDisclaimer", Qt::black},
    };
    for (const auto& e : colours)
        EXPECT_EQ(Child<QLabel>(dialog, e.label)->palette().color(QPalette::WindowText), e.colour)
            << e.label;
}

TEST_F(QtAbout, TabStartsAtOkAndEnterOrEscapeCloses) {
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        SCOPED_TRACE(QKeySequence(key).toString().toStdString());
        OpenActive();
        EXPECT_EQ(Focused(), "cmdOK");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(Focused(), "cmdSysInfo");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(Focused(), "cmdOK");
        QTest::keyClick(QApplication::focusWidget(), key);
        EXPECT_EQ(about.Window(), nullptr);
        DeleteClosedWidgets();
    }
}

TEST_F(QtAbout, OpensOnceAndReloadsItsTextsAfterClosing) {
    about.Open();
    about.Open();
    int dialogs = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        dialogs += widget->objectName() == "frmAbout" && widget->isVisible();
    EXPECT_EQ(dialogs, 1);

    Child<QPushButton>(*about.Window(), "cmdOK")->click();
    EXPECT_EQ(about.Window(), nullptr);
    DeleteClosedWidgets();
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());

    about.Open();
    ASSERT_NE(Top(), nullptr);
    EXPECT_TRUE(Top()->isVisible());
    EXPECT_EQ(Top()->windowTitle(), "About Larkmoor");
    EXPECT_EQ(Child<QLabel>(*about.Window(), "lblVersion")->text(), "Version 1.0.0");
    EXPECT_EQ(Child<QLabel>(*about.Window(), "lblDisclaimer")->text(), kDisclaimer);
}

TEST_F(QtAbout, AltSWithoutTheToolTellsTheUserOverTheDialog) {
    OpenActive();
    QString title, text;
    QWidget* parent = nullptr;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            parent = box->parentWidget();
            box->button(QMessageBox::Ok)->click();
        }
    });
    watch.start(20);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !title.isEmpty(); }, 2000));
    EXPECT_EQ(title, "Larkmoor");
    EXPECT_EQ(text, kSysInfoUnavailable);
    EXPECT_EQ(parent, Top());
    EXPECT_NE(about.Window(), nullptr) << "the dialog stays open";
}

} // namespace
} // namespace larkmoor
