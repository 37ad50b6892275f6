// File panels driven by a timer acting as the user, PDF printing, popovers
// closing on an outside click, and sounds without a sound system.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <functional>

#include "kit/base/Displays.h"
#include "kit/base/Sound.h"
#include "kit/desktop/EventMonitor.h"
#include "kit/image/Print.h"
#include "kit/ui/FilePanels.h"
#include "kit/ui/Popover.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"

using namespace kit;

namespace {

QString home() {
    return QString::fromLocal8Bit(std::getenv("KADRIX_HOME"));
}

// Acts as the user on the next file dialog that shows: the dialog itself is
// looked for among the windows, not whichever widget happens to be the
// active modal one (a window of an earlier test can be), and a dialog acted
// on once is never taken again.
void whenDialog(std::function<void(QFileDialog*)> act) {
    static QList<QPointer<QFileDialog>> handled;
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* d = qobject_cast<QFileDialog*>(w);
            if (!d || !d->isVisible() || handled.contains(QPointer<QFileDialog>(d))) continue;
            handled.append(d);
            timer->stop();
            timer->deleteLater();
            act(d);
            return;
        }
    });
    timer->start();
}

}  // namespace

TEST(FilePanels, OpenPanelReturnsTheChosenFilesAndNothingWhenCancelled) {
    QDir(home()).mkpath("pics");
    QFile(home() + "/pics/a.png").open(QIODevice::WriteOnly);
    OpenPanel open;
    open.directory = (home() + "/pics").toStdString();
    open.allowedTypes = {"png", "jpg"};
    whenDialog([](QFileDialog* d) {
        EXPECT_EQ(d->nameFilters().join(";"), "Files (*.png *.jpg)");
        // Typed, as selectFile leaves the name field alone once it has the
        // focus, which it has when an earlier panel left the dialog active.
        d->findChild<QLineEdit*>("fileNameEdit")->setText("a.png");
        static_cast<QDialog*>(d)->accept();
    });
    auto chosen = open.runModal();
    ASSERT_EQ(chosen.size(), 1u);
    EXPECT_EQ(chosen[0], (home() + "/pics/a.png").toStdString());
    whenDialog([](QFileDialog* d) { d->reject(); });
    EXPECT_TRUE(open.runModal().empty());
}

TEST(FilePanels, SavePanelProposesANameAndReportsTheAccessoryChoice) {
    SavePanel save;
    save.directory = home().toStdString();
    save.nameFieldValue = "SCR-1.png";
    save.allowedTypes = {"png", "jpg"};
    save.accessoryLabel = "Format:";
    save.accessoryItems = {"PNG", "JPEG"};
    int changes = 0;
    save.onAccessoryChange = [&](SavePanel& p, int index) {
        ++changes;
        p.setAllowedTypes(index == 1 ? std::vector<std::string>{"jpg"} : std::vector<std::string>{"png"});
        p.setNameFieldValue(index == 1 ? "SCR-1.jpg" : "SCR-1.png");
    };
    whenDialog([](QFileDialog* d) {
        auto* combo = d->findChild<QComboBox*>("accessoryPopUp");
        ASSERT_NE(combo, nullptr);
        combo->setCurrentIndex(1);
        EXPECT_EQ(d->nameFilters().join(";"), "Files (*.jpg)");
        static_cast<QDialog*>(d)->accept();
    });
    auto path = save.runModal();
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(*path, (home() + "/SCR-1.jpg").toStdString());
    EXPECT_EQ(save.accessorySelectedIndex, 1);
    EXPECT_EQ(changes, 1);

    // A bare name typed after switching the format gets the new format's
    // extension, not the one the panel opened with.
    save.allowedTypes = {"png"};
    save.accessorySelectedIndex = 0;
    whenDialog([](QFileDialog* d) {
        d->findChild<QComboBox*>("accessoryPopUp")->setCurrentIndex(1);
        d->findChild<QLineEdit*>("fileNameEdit")->setText("bare");
        static_cast<QDialog*>(d)->accept();
    });
    path = save.runModal();
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(*path, (home() + "/bare.jpg").toStdString());
}

TEST(FilePanels, APanelWithoutAFolderStartsWhereTheLastOneWasConfirmed) {
    QDir(home()).mkpath("elsewhere");
    const QString elsewhere = home() + "/elsewhere";
    SavePanel first;
    first.directory = elsewhere.toStdString();
    first.nameFieldValue = "a.png";
    whenDialog([](QFileDialog* d) { static_cast<QDialog*>(d)->accept(); });
    ASSERT_TRUE(first.runModal().has_value());

    // Not the program's working folder, which means nothing to a tray program.
    SavePanel next;
    next.nameFieldValue = "b.png";
    QString started;
    whenDialog([&](QFileDialog* d) {
        started = d->directory().absolutePath();
        d->reject();
    });
    EXPECT_FALSE(next.runModal().has_value());
    EXPECT_EQ(started, QDir(elsewhere).absolutePath());
}

namespace {

// The first page of a PDF rendered by pdftoppm at a low resolution.
QImage renderedPage(const std::string& pdf, const QString& base) {
    QProcess render;
    render.start("pdftoppm", {"-png", "-r", "20", "-singlefile", QString::fromStdString(pdf), base});
    if (!render.waitForFinished(30000) || render.exitCode() != 0) return {};
    return QImage(base + ".png");
}

bool isRed(QColor c) {
    return std::abs(c.red() - 200) < 16 && c.green() < 50 && c.blue() < 50;
}

}  // namespace

TEST(Print, AnImageBecomesAOnePagePdf) {
    Image img(300, 200);
    img.fill(Color::rgb(200, 30, 30));
    std::string pdf = (home() + "/out.pdf").toStdString();
    ASSERT_TRUE(Print::printImageToPdf(img, pdf));
    QFile f(QString::fromStdString(pdf));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray bytes = f.readAll();
    EXPECT_TRUE(bytes.startsWith("%PDF"));
    EXPECT_EQ(bytes.count("/Type /Page\n") + bytes.count("/Type /Page "), 1);
    EXPECT_TRUE(bytes.contains("/Image")) << "the picture is in the page";
    EXPECT_FALSE(Print::printImageToPdf(Image(), pdf));
}

TEST(Print, TheImageIsFittedToATurnedPageWithoutMargins) {
    if (QStandardPaths::findExecutable("pdftoppm").isEmpty()) GTEST_SKIP() << "needs pdftoppm";
    struct Case {
        int w, h;
        bool landscape;
    };
    // A small wide image is enlarged to the page's full width; a square one
    // also goes landscape; a tall strip goes portrait at the page's height.
    for (Case c : {Case{300, 200, true}, Case{120, 120, true}, Case{100, 900, false}}) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        Image img(c.w, c.h, 2.0);  // the screen's ratio does not change the printed size
        img.fill(Color::rgb(200, 30, 30));
        std::string pdf = (home() + "/fit.pdf").toStdString();
        ASSERT_TRUE(Print::printImageToPdf(img, pdf));
        QImage page = renderedPage(pdf, home() + "/fit");
        ASSERT_FALSE(page.isNull());
        EXPECT_EQ(page.width() > page.height(), c.landscape);
        EXPECT_TRUE(isRed(page.pixelColor(page.width() / 2, page.height() / 2)));
        // The picture reaches the page's edge along its limiting side.
        if (double(c.w) / c.h >= double(page.width()) / page.height()) {
            EXPECT_TRUE(isRed(page.pixelColor(1, page.height() / 2)));
            EXPECT_TRUE(isRed(page.pixelColor(page.width() - 2, page.height() / 2)));
        } else {
            EXPECT_TRUE(isRed(page.pixelColor(page.width() / 2, 1)));
            EXPECT_TRUE(isRed(page.pixelColor(page.width() / 2, page.height() - 2)));
            EXPECT_EQ(page.pixelColor(1, 1), QColor(Qt::white));
        }
    }
}

TEST(Print, TheImageFillsThePrintableAreaNotThePaper) {
    // 400 × 300 points on a landscape page whose printable area is 720 × 540:
    // enlarged 1.8 times, to the whole area.
    Rect whole = Print::fitToPrintableArea({36, 36, 720, 540}, {400, 300});
    EXPECT_DOUBLE_EQ(whole.width(), 720);
    EXPECT_DOUBLE_EQ(whole.height(), 540);
    EXPECT_DOUBLE_EQ(whole.x(), 36);
    // A printer that cannot print the outer 18 points on the left and 30 at
    // the top: the picture stays inside, centred in what is left.
    Rect inside = Print::fitToPrintableArea({18, 30, 574, 752}, {100, 900});
    EXPECT_GE(inside.x(), 18);
    EXPECT_DOUBLE_EQ(inside.y(), 30);
    EXPECT_DOUBLE_EQ(inside.height(), 752);
    EXPECT_NEAR(inside.x() + inside.width() / 2, 18 + 574 / 2.0, 1e-9);
}

TEST(Popover, ShowsBesideItsAnchorAndClosesOnAnOutsideClick) {
    Window win({100, 100, 300, 200}, WindowStyle::Borderless);
    win.orderFront();
    auto content = View::make();
    Popover pop;
    pop.setContentView(content);
    pop.setContentSize({120, 60});
    pop.setBackgroundColor(Color::rgb(40, 40, 40));
    int closed = 0;
    pop.onDidClose = [&] { ++closed; };
    pop.show(Rect(10, 150, 30, 20), *win.contentView(), RectEdge::MinY);
    ASSERT_TRUE(pop.isShown());
    Rect anchor = win.contentView()->convertToScreen(Rect(10, 150, 30, 20));
    Rect f = pop.frame();
    EXPECT_LE(f.maxY(), anchor.minY()) << "below the anchor";
    EXPECT_NEAR(f.midX(), anchor.midX(), 1);
    EXPECT_EQ(content->frame().size, (Size{120, 60}));
    // A press on the anchor is the anchor's own (it toggles the popover);
    // a press anywhere else closes it.
    QCursor::setPos(
        QPoint(int(Displays::toWindowServer(anchor).midX()), int(Displays::toWindowServer(anchor).midY())));
    EventMonitor::deliver({MonitorEvent::Type::LeftMouseDown}, true);
    EXPECT_TRUE(pop.isShown());
    QCursor::setPos(QPoint(5, 5));
    EventMonitor::deliver({MonitorEvent::Type::LeftMouseDown}, true);
    EXPECT_FALSE(pop.isShown());
    EXPECT_EQ(closed, 1);
}

TEST(Popover, GrowsBesideItsAnchorAndStaysOnTheScreen) {
    auto content = View::make();
    Popover pop;
    pop.setContentView(content);
    pop.setContentSize({380, 200});
    Rect screen = Displays::primary().visibleFrame;  // y up
    // An icon at the top right corner, as a tray's is.
    Rect icon(screen.maxX() - 24, screen.maxY() - 22, 22, 22);
    pop.show(icon, RectEdge::MinY);
    pop.setContentSize({560, 300});
    Rect f = pop.frame();
    EXPECT_EQ(f.size, (Size{572, 312}));
    EXPECT_LE(f.maxX(), screen.maxX()) << "enlarged past the screen's right edge";
    EXPECT_GE(f.maxX(), screen.maxX() - 1) << "no longer beside its icon";
    EXPECT_LE(f.maxY(), icon.minY());
    pop.close();
    // Shown again, it opens at its new size, beside the icon.
    pop.show(icon, RectEdge::MinY);
    EXPECT_EQ(pop.frame(), f);
}

TEST(Popover, OpensOnTheOtherSideWhenItsOwnHasNoRoom) {
    auto content = View::make();
    Popover pop;
    pop.setContentView(content);
    pop.setContentSize({120, 60});
    Rect screen = Displays::primary().visibleFrame;  // y up
    // Above an anchor in the middle of the screen, as asked.
    Rect middle(screen.midX(), screen.midY(), 30, 20);
    pop.show(middle, RectEdge::MaxY);
    EXPECT_GE(pop.frame().minY(), middle.maxY());
    pop.close();
    // An anchor 10 points under the top edge leaves no room above: the panel
    // opens below it rather than over it.
    Rect top(screen.midX(), screen.maxY() - 30, 30, 20);
    pop.show(top, RectEdge::MaxY);
    EXPECT_LE(pop.frame().maxY(), top.minY());
    pop.close();
    // And the other way round at the bottom edge.
    Rect bottom(screen.midX(), screen.minY() + 10, 30, 20);
    pop.show(bottom, RectEdge::MinY);
    EXPECT_GE(pop.frame().minY(), bottom.maxY());
    pop.close();
}

TEST(Sound, UnknownOrEmptySoundsAreRefused) {
    EXPECT_FALSE(Sound::play(""));
    EXPECT_FALSE(Sound::play("kadrix-no-such-sound-event"));
}
