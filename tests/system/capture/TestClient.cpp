// kadrix-testclient: windows of known content for the capture system tests.
//   kadrix-testclient solid TITLE X Y W H #RRGGBB
//   kadrix-testclient slow TITLE X Y W H #RRGGBB DELAY_MS   (black wherever it comes into view, as
//     the server leaves it, and drawn in its colour DELAY_MS later, as a busy program does)
//   kadrix-testclient ontop TITLE X Y W H #RRGGBB   (stays above, like our pins)
//   kadrix-testclient scroll TITLE X Y W H PAGE_W PAGE_H top|bottom [INFO_FILE [LATE_MS]]
//   kadrix-testclient text …   (the same with a page of text lines)
//   kadrix-testclient lines …   (the same with numbered monospaced lines, scrolled whole lines at a time)
//   kadrix-testclient alike …   (the lines, those from three quarters of the page on for three
//     twentieths of it all one line: 300 numbered, 60 alike and 40 numbered on a page of 400)
//   kadrix-testclient page W H FILE   (the "lines" page as PNG, then exits)
//   kadrix-testclient drop TITLE X Y W H OUT_FILE   (copies the first file dropped on it to OUT_FILE)
//   kadrix-testclient shot FILE   (the root window's pixels as PNG, then exits)
//   kadrix-testclient grab TITLE X Y W H FILE   (holds the keyboard, as an open menu does, until FILE exists)
//   kadrix-testclient offer DELAY_MS [FILE…]   (owns the clipboard until ended: bytes that are no picture
//     as image/png, image/jpeg, image/bmp and image/gif, and the FILEs listed, each handed over DELAY_MS
//     late, or never with DELAY_MS -1, as a busy or hung program does)
//   kadrix-testclient late DELAY_MS png FILE | late DELAY_MS list FILE… | late DELAY_MS text WORDS
//     (owns the clipboard until ended, offering the PNG FILE as image/png, the FILEs as a list alone, or
//     WORDS as plain text; every request, the list of types too, answered DELAY_MS late, as a busy
//     program does)
//   kadrix-testclient watch CLASS MIN_W MIN_H MAX_W MAX_H PREFIX   (until ended: each viewable window of
//     CLASS between those sizes has its part of the screen taken wherever it shows, as PREFIX-N-K.png,
//     the Kth place of the Nth window)
//   kadrix-testclient hungfolder MOUNT_POINT   (a folder whose picture.png never opens, as on a network
//     folder that hangs; see HungFolder.h)
// "shot" reads the root window alone: a screenshot tool that walks the window
// tree fails when a window closes during the walk, as windows do between the
// steps of a test.
// "watch" keeps what a short-lived window showed (a notice that leaves after
// a few seconds): a script that looks for it itself can miss it on a busy
// machine, where a look takes a good part of a second.
// The scroll window shows the synthetic page of the capture tests in a
// scroll area and writes the viewport's screen rectangle and scroll offset
// ("x y w h offset") to INFO_FILE, when given one, whenever they change.
// With LATE_MS it draws each wheel click late, as a busy program does: the
// first LATE_MS milliseconds after it, later ones between half that and all
// of it.
// INFO_FILE and OUT_FILE are replaced only by renaming a file this program
// made beside them, and only where they are regular files or missing: a
// mistaken path (a device, a link, a folder) is left as it is.
#include <QtGui/qguiapplication_platform.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QHash>
#include <QLabel>
#include <QMimeData>
#include <QPixmap>
#include <QSaveFile>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "capture/Synthetic.h"
#include "kit/base/qt/QtImage.h"
#include "system/capture/HungFolder.h"
#include "system/capture/TextPage.h"

namespace {

// Holds back the wheel events of a widget and hands each on `late`
// milliseconds after it came (half of that to all of it, varying).
class LateWheel : public QObject {
public:
    LateWheel(QWidget* target, int late) : QObject(target), target_(target), late_(late) {
        target->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() != QEvent::Wheel || replaying_) return false;
        std::shared_ptr<QEvent> copy(e->clone());
        int delay = late_ / 2 + late_ * (seen_ == 0 ? 4 : (seen_ * 3) % 5) / 8;
        ++seen_;
        QTimer::singleShot(delay, this, [this, copy] {
            replaying_ = true;
            QCoreApplication::sendEvent(target_, copy.get());
            replaying_ = false;
        });
        return true;
    }

private:
    QWidget* target_;
    int late_;
    int seen_ = 0;
    bool replaying_ = false;
};

// PATH holds BYTES afterwards, or is left untouched: they go to a new file of
// our own (O_EXCL) in PATH's folder, which is renamed over PATH. A PATH that
// exists as anything but a regular file is refused, so no device or link is
// ever replaced, and PATH is never removed first.
bool replaceFile(const QString& path, const QByteArray& bytes) {
    const QByteArray target = QFile::encodeName(path);
    struct stat st {};
    if (lstat(target.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        fprintf(stderr, "kadrix-testclient: %s is not a regular file; left as it is\n", target.constData());
        return false;
    }
    QByteArray temp = target + ".XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.constData(), target.constData()) == 0;
    if (!ok) ::unlink(temp.constData());
    return ok;
}

// A drop target for files dragged out of the program.
class DropWindow : public QWidget {
public:
    explicit DropWindow(QString out) : out_(std::move(out)) { setAcceptDrops(true); }

protected:
    void dragEnterEvent(QDragEnterEvent* e) override {
        if (e->mimeData()->hasUrls()) e->acceptProposedAction();
    }
    void dropEvent(QDropEvent* e) override {
        const QList<QUrl> urls = e->mimeData()->urls();
        if (urls.isEmpty() || !urls[0].isLocalFile()) return;
        QFile in(urls[0].toLocalFile());
        if (in.open(QIODevice::ReadOnly) && replaceFile(out_, in.readAll())) e->acceptProposedAction();
    }

private:
    QString out_;
};

// Numbered lines whose middle columns read the same on every line.
QImage linesPage(int w, int h) {
    return kit::qt::wrap(testing_capture::makeLinesPage(testing_capture::LinesKind::numbered, w,
                                                        h / testing_capture::kLinePitch))
        .copy();
}

QImage alikePage(int w, int h) {
    using testing_capture::kLinePitch;
    QImage page = linesPage(w, h);
    const int lines = h / kLinePitch, from = lines * 3 / 4, run = lines * 3 / 20;
    for (int y = (from + 1) * kLinePitch; y < (from + run) * kLinePitch; ++y)
        std::memcpy(page.scanLine(y), page.constScanLine(from * kLinePitch + y % kLinePitch),
                    size_t(page.bytesPerLine()));
    return page;
}

// Keeps whoever reads the clipboard waiting for each type: answering one
// request at a time, as such programs do.
class LateOffer : public QMimeData {
public:
    explicit LateOffer(int delayMs) : delayMs_(delayMs) {}

protected:
    QVariant retrieveData(const QString& type, QMetaType as) const override {
        if (delayMs_ < 0)
            for (;;) QThread::sleep(60);
        QThread::msleep(unsigned(delayMs_));
        return QMimeData::retrieveData(type, as);
    }

private:
    int delayMs_;
};

// Keeps whoever reads the clipboard waiting for the list of its types too.
class BusyOffer : public LateOffer {
public:
    explicit BusyOffer(int delayMs) : LateOffer(delayMs), delayMs_(delayMs) {}
    QStringList formats() const override {
        QThread::msleep(unsigned(delayMs_));
        return LateOffer::formats();
    }

private:
    int delayMs_;
};

// A window of the server's own, black where it comes into view (its
// background, which the server paints at once) and drawn in its colour only
// `late` milliseconds after each exposure.
class SlowWindow : public QAbstractNativeEventFilter {
public:
    SlowWindow(const QString& title, QRect frame, QColor colour, int late) : late_(late) {
        auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
        c_ = x11->connection();
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        window_ = xcb_generate_id(c_);
        const uint32_t values[] = {screen->black_pixel, XCB_EVENT_MASK_EXPOSURE};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, int16_t(frame.x()),
                          int16_t(frame.y()), uint16_t(frame.width()), uint16_t(frame.height()), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        const QByteArray name = title.toUtf8();
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            uint32_t(name.size()), name.constData());
        // Where the window manager is to put it: the place and size asked for
        // (WM_NORMAL_HINTS: user position and size, program position and size).
        uint32_t hints[18] = {1 | 2 | 4 | 8, uint32_t(frame.x()), uint32_t(frame.y()),
                              uint32_t(frame.width()), uint32_t(frame.height())};
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NORMAL_HINTS,
                            XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
        gc_ = xcb_generate_id(c_);
        const uint32_t fg = colour.rgb() & 0xffffffu;  // a 24-bit true-colour screen
        xcb_create_gc(c_, gc_, window_, XCB_GC_FOREGROUND, &fg);
        qApp->installNativeEventFilter(this);
        xcb_map_window(c_, window_);
        xcb_flush(c_);
    }
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        auto* e = static_cast<xcb_generic_event_t*>(message);
        if ((e->response_type & 0x7f) != XCB_EXPOSE ||
            reinterpret_cast<xcb_expose_event_t*>(e)->window != window_)
            return false;
        QTimer::singleShot(late_, [this] {
            xcb_rectangle_t all{0, 0, 32767, 32767};
            xcb_poly_fill_rectangle(c_, window_, gc_, 1, &all);
            xcb_flush(c_);
        });
        return true;
    }

private:
    xcb_connection_t* c_ = nullptr;
    xcb_window_t window_ = 0;
    xcb_gcontext_t gc_ = 0;
    int late_;
};

// Looks at the windows on the screen every 50 ms for new ones of a class
// and size, and takes the screen as each shows (see "watch" above).
class WindowWatch : public QObject {
public:
    WindowWatch(QString cls, QSize min, QSize max, QString prefix)
        : cls_(std::move(cls)), min_(min), max_(max), prefix_(std::move(prefix)) {
        auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
        c_ = x11 ? x11->connection() : nullptr;
        if (!c_) return;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        auto* t = new QTimer(this);
        connect(t, &QTimer::timeout, this, &WindowWatch::look);
        t->start(50);
    }
    bool ok() const { return c_ != nullptr; }

private:
    // The viewable windows of the class among `windows`, and those that
    // carry no class (a window manager's frames), each asked of the server
    // together: on a busy machine every answer waited for is a long wait.
    void sortOut(const std::vector<xcb_window_t>& windows, std::vector<xcb_window_t>& ours,
                 std::vector<xcb_window_t>& frames) {
        std::vector<xcb_get_window_attributes_cookie_t> attrs;
        std::vector<xcb_get_property_cookie_t> classes;
        for (xcb_window_t w : windows) {
            attrs.push_back(xcb_get_window_attributes(c_, w));
            classes.push_back(xcb_get_property(c_, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64));
        }
        for (size_t i = 0; i < windows.size(); ++i) {
            xcb_get_window_attributes_reply_t* a = xcb_get_window_attributes_reply(c_, attrs[i], nullptr);
            xcb_get_property_reply_t* r = xcb_get_property_reply(c_, classes[i], nullptr);
            QString cls;
            if (r) {
                const char* v = static_cast<const char*>(xcb_get_property_value(r));
                // The instance, as xdotool's --classname reads it.
                cls = QString::fromLatin1(v, int(strnlen(v, size_t(xcb_get_property_value_length(r)))));
            }
            if (a && a->map_state == XCB_MAP_STATE_VIEWABLE) {
                if (cls == cls_)
                    ours.push_back(windows[i]);
                else if (cls.isEmpty())
                    frames.push_back(windows[i]);
            }
            free(a);
            free(r);
        }
    }
    std::vector<std::vector<xcb_window_t>> childrenOf(const std::vector<xcb_window_t>& windows) {
        std::vector<xcb_query_tree_cookie_t> asks;
        for (xcb_window_t w : windows) asks.push_back(xcb_query_tree(c_, w));
        std::vector<std::vector<xcb_window_t>> out(windows.size());
        for (size_t i = 0; i < windows.size(); ++i)
            if (xcb_query_tree_reply_t* t = xcb_query_tree_reply(c_, asks[i], nullptr)) {
                xcb_window_t* k = xcb_query_tree_children(t);
                out[i].assign(k, k + xcb_query_tree_children_length(t));
                free(t);
            }
        return out;
    }
    // Their places on the screen.
    std::vector<QRect> placesOf(const std::vector<xcb_window_t>& windows) {
        std::vector<xcb_get_geometry_cookie_t> sizes;
        std::vector<xcb_translate_coordinates_cookie_t> origins;
        for (xcb_window_t w : windows) {
            sizes.push_back(xcb_get_geometry(c_, w));
            origins.push_back(xcb_translate_coordinates(c_, w, root_, 0, 0));
        }
        std::vector<QRect> out(windows.size());
        for (size_t i = 0; i < windows.size(); ++i) {
            xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c_, sizes[i], nullptr);
            xcb_translate_coordinates_reply_t* t = xcb_translate_coordinates_reply(c_, origins[i], nullptr);
            if (g && t) out[i] = QRect(t->dst_x, t->dst_y, g->width, g->height);
            free(g);
            free(t);
        }
        return out;
    }
    // A window is taken at each new place it shows at (a notice slides in).
    void look() {
        // Top-level windows are the root's children, or lie inside a window
        // manager's frames (a frame, and a plate in it, carry no class).
        std::vector<xcb_window_t> ours, frames{root_};
        for (int depth = 0; depth < 4 && !frames.empty(); ++depth) {
            std::vector<xcb_window_t> inner;
            for (const std::vector<xcb_window_t>& inside : childrenOf(frames)) sortOut(inside, ours, inner);
            frames = std::move(inner);
        }
        const std::vector<QRect> places = placesOf(ours);
        QSet<xcb_window_t> shown;
        for (size_t i = 0; i < ours.size(); ++i) {
            const xcb_window_t w = ours[i];
            const QRect& place = places[i];
            shown.insert(w);
            Seen& seen = seen_[w];
            if (place.width() < min_.width() || place.height() < min_.height() ||
                place.width() > max_.width() || place.height() > max_.height())
                continue;
            if (seen.number == 0) {
                seen.number = ++count_;
                fprintf(stderr, "kadrix-testclient: window %d of %s shows, %dx%d+%d+%d\n", seen.number,
                        qPrintable(cls_), place.width(), place.height(), place.x(), place.y());
            }
            // Once more at a place it stays at: what it showed as it came there may not be drawn yet.
            const bool again = place == seen.place && !seen.settled && seen.since.elapsed() > 400;
            if ((place == seen.place && !again) || seen.taken == kMostTaken) continue;
            // Only the window's part of the screen: on a busy machine a look
            // that reads the whole screen and writes it out takes longer than
            // a notice shows.
            const QRect part = place.intersected(qApp->primaryScreen()->geometry());
            if (part.isEmpty()) continue;
            seen.settled = again;
            seen.place = place;
            seen.since.start();
            QSaveFile out(QStringLiteral("%1-%2-%3.png").arg(prefix_).arg(seen.number).arg(++seen.taken));
            if (out.open(QIODevice::WriteOnly) &&
                qApp->primaryScreen()
                    ->grabWindow(0, part.x(), part.y(), part.width(), part.height())
                    .save(&out, "PNG"))
                out.commit();
        }
        // Said of a window that went (the test's failure shows it).
        for (auto it = seen_.begin(); it != seen_.end(); ++it) {
            Seen& seen = it.value();
            if (seen.number == 0 || seen.gone || shown.contains(it.key())) continue;
            seen.gone = true;
            fprintf(stderr, "kadrix-testclient: window %d went, taken %d times, last at %dx%d+%d+%d\n",
                    seen.number, seen.taken, seen.place.width(), seen.place.height(), seen.place.x(),
                    seen.place.y());
        }
    }
    static constexpr int kMostTaken = 8;
    struct Seen {
        int number = 0, taken = 0;
        bool gone = false, settled = false;
        QRect place;  // where it was taken last
        QElapsedTimer since;
    };
    QString cls_;
    QSize min_, max_;
    QString prefix_;
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
    QHash<xcb_window_t, Seen> seen_;
    int count_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "hungfolder") == 0) return serveHungFolder(argv[2]);
    QApplication app(argc, argv);
    QStringList a = app.arguments();
    if (a.size() == 3 && a[1] == "shot") return app.primaryScreen()->grabWindow(0).save(a[2], "PNG") ? 0 : 1;
    if (a.size() == 5 && a[1] == "page")
        return linesPage(a[2].toInt(), a[3].toInt()).save(a[4], "PNG") ? 0 : 1;
    if (a.size() >= 3 && a[1] == "offer") {
        auto* offer = new LateOffer(a[2].toInt());
        for (const char* type : {"image/png", "image/jpeg", "image/bmp", "image/gif"})
            offer->setData(type, "no picture at all");
        QList<QUrl> files;
        for (const QString& f : a.mid(3)) files << QUrl::fromLocalFile(f);
        if (!files.isEmpty()) offer->setUrls(files);
        QGuiApplication::clipboard()->setMimeData(offer);
        return app.exec();
    }
    if (a.size() >= 5 && a[1] == "late" && (a[3] == "png" || a[3] == "list" || a[3] == "text")) {
        auto* offer = new BusyOffer(a[2].toInt());
        if (a[3] == "text") {
            offer->setText(a.mid(4).join(' '));
        } else if (a[3] == "png") {
            QFile png(a[4]);
            if (!png.open(QIODevice::ReadOnly)) return 2;
            offer->setData("image/png", png.readAll());
        } else {
            QList<QUrl> files;
            for (const QString& f : a.mid(4)) files << QUrl::fromLocalFile(f);
            offer->setUrls(files);
        }
        QGuiApplication::clipboard()->setMimeData(offer);
        return app.exec();
    }
    if (a.size() == 8 && a[1] == "watch") {
        WindowWatch watch(a[2], QSize(a[3].toInt(), a[4].toInt()), QSize(a[5].toInt(), a[6].toInt()), a[7]);
        return watch.ok() ? app.exec() : 1;
    }
    if (a.size() < 8) return 2;
    QString mode = a[1], title = a[2];
    int x = a[3].toInt(), y = a[4].toInt(), w = a[5].toInt(), h = a[6].toInt();
    if (mode == "solid" || mode == "ontop") {
        auto* win = new QWidget(nullptr, mode == "ontop" ? Qt::WindowStaysOnTopHint : Qt::WindowFlags());
        win->setWindowTitle(title);
        win->setAutoFillBackground(true);
        QPalette p = win->palette();
        p.setColor(QPalette::Window, QColor(a[7]));
        win->setPalette(p);
        win->setGeometry(x, y, w, h);
        win->show();
        return app.exec();
    }
    if (mode == "slow" && a.size() >= 9) {
        SlowWindow win(title, QRect(x, y, w, h), QColor(a[7]), a[8].toInt());
        return app.exec();
    }
    if (mode == "grab") {
        auto* win = new QWidget(nullptr, Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        win->setWindowTitle(title);
        win->setGeometry(x, y, w, h);
        win->show();
        if (!win->windowHandle()->setKeyboardGrabEnabled(true)) {
            fprintf(stderr, "kadrix-testclient: the keyboard is held by another program\n");
            return 3;
        }
        auto* poll = new QTimer(win);
        QObject::connect(poll, &QTimer::timeout, [win, poll, file = a[7]] {
            if (!QFile::exists(file)) return;
            win->windowHandle()->setKeyboardGrabEnabled(false);
            QGuiApplication::sync();  // let go now, not whenever the next event wakes us
            poll->stop();
        });
        poll->start(50);
        return app.exec();
    }
    if (mode == "drop") {
        auto* win = new DropWindow(a[7]);
        win->setWindowTitle(title);
        win->setGeometry(x, y, w, h);
        win->show();
        return app.exec();
    }
    if ((mode != "scroll" && mode != "text" && mode != "lines" && mode != "alike") || a.size() < 10) return 2;
    int pageW = a[7].toInt(), pageH = a[8].toInt();
    bool bottom = a[9] == "bottom";
    QString info = a.size() > 10 ? a[10] : QString();
    int late = a.size() > 11 ? a[11].toInt() : 0;
    auto* area = new QScrollArea;
    area->setWindowTitle(title);
    area->setFrameShape(QFrame::NoFrame);
    auto* label = new QLabel;
    QImage content = mode == "text"    ? textPage(pageW, pageH)
                     : mode == "lines" ? linesPage(pageW, pageH)
                     : mode == "alike" ? alikePage(pageW, pageH)
                                       : kit::qt::wrap(testing_capture::makePage(pageW, pageH)).copy();
    if (mode == "lines" || mode == "alike") {
        // Each pixel of the page becomes whole device pixels, so a test can
        // rebuild what the screen shows at any whole scale.
        qreal dpr = app.devicePixelRatio();
        content =
            content.scaled(int(pageW * dpr), int(pageH * dpr), Qt::IgnoreAspectRatio, Qt::FastTransformation);
        content.setDevicePixelRatio(dpr);
    }
    label->setPixmap(QPixmap::fromImage(content));
    label->setFixedSize(pageW, pageH);
    area->setWidget(label);
    // A wheel click moves a terminal's lines by whole lines: three here.
    if (mode == "lines" || mode == "alike")
        area->verticalScrollBar()->setSingleStep(testing_capture::kLinePitch);
    if (late > 0) new LateWheel(area->viewport(), late);
    area->setGeometry(x, y, w, h);
    area->show();
    auto write = [area, info] {
        if (info.isEmpty()) return;
        QPoint g = area->viewport()->mapToGlobal(QPoint(0, 0));
        replaceFile(info, QString("%1 %2 %3 %4 %5\n")
                              .arg(g.x())
                              .arg(g.y())
                              .arg(area->viewport()->width())
                              .arg(area->viewport()->height())
                              .arg(area->verticalScrollBar()->value())
                              .toUtf8());
    };
    QObject::connect(area->verticalScrollBar(), &QScrollBar::valueChanged, write);
    QTimer::singleShot(500, [area, bottom, write] {
        if (bottom) area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
        write();
    });
    return app.exec();
}
