#include "kit/ui/Application.h"

#include <QtGui/qguiapplication_platform.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <semaphore.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QSettings>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <thread>
#include <utility>

#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/base/Image.h"
#include "kit/base/ToolkitThreads.h"
#include "kit/base/WayOut.h"
#include "kit/base/qt/QtImage.h"
#include "kit/ui/qt/ApplicationPrivate.h"

#if __has_include(<xcb/xcb.h>)
#include <xcb/xcb.h>
#define KIT_HAVE_XCB 1
#endif

namespace kit {

namespace {
Application* g_app = nullptr;
// Kit windows and their top-level widgets, in creation order.
std::vector<std::pair<Window*, QWidget*>> g_windows;
// The windows hide() took away, for activate() to bring back.
std::vector<QWidget*> g_hiddenWindows;
int g_signalPipe[2] = {-1, -1};
// What the bytes on the pipe ask of the main thread.
constexpr char kSignalled = 1;  // a termination signal: end as after terminate()
constexpr char kExitAsked = 2;  // another thread called exit(): end now, with g_exitStatus
// Set while run() drives the loop: from then on an exit() is ours to carry out.
std::atomic<bool> g_ownsExit{false};
// Set once the willTerminate hooks have run: every exit() from then on ends at once.
std::atomic<bool> g_hooksDone{false};
std::atomic<int> g_exitStatus{0};
// The process that made the application. A child made by fork() (a library
// may make one) shares our signal pipe and our hooks but must not run them.
pid_t g_appPid = 0;

bool inForkedChild() {
    return g_appPid != 0 && ::getpid() != g_appPid;
}

void armHardEnd();

void onSignal(int sig) {
    if (inForkedChild()) {
        // Ends as the signal would have ended it, and leaves our pipe alone.
        ::signal(sig, SIG_DFL);
        ::raise(sig);
        return;
    }
    // Only async-signal-safe work here. The bound counts from now, however
    // long the main thread takes to pick the byte up (a busy machine, a call
    // that does not return).
    wayOutAsked();
    armHardEnd();
    char c = kSignalled;
    [[maybe_unused]] auto n = ::write(g_signalPipe[1], &c, 1);
}

// A write to a pipe or connection whose other end has gone. The call fails
// with EPIPE and its caller handles that as any failed write (the X11
// connection's, for one, ends the program in order); the signal itself, by
// default, would end the program on the spot, whoever wrote. Said in the
// log the first few times, with the thread that wrote. A handler rather than
// ignoring the signal: the programs Kadrix starts get the default back.
void onBrokenPipe(int) {
    static std::atomic<int> told{0};
    if (told.fetch_add(1) >= 3) return;
    const int saved = errno;
    char line[128] = "kadrix: a write to a closed pipe or connection failed (thread ";
    size_t n = std::strlen(line);
    if (int fd = ::open("/proc/thread-self/comm", O_RDONLY | O_CLOEXEC); fd >= 0) {
        const ssize_t got = ::read(fd, line + n, 20);
        ::close(fd);
        if (got > 0) n += size_t(got);
        if (n > 0 && line[n - 1] == '\n') --n;
    }
    line[n++] = ')';
    line[n++] = '\n';
    [[maybe_unused]] const ssize_t said = ::write(STDERR_FILENO, line, n);
    errno = saved;
}

// Ends the process without running the static destructors: worker threads
// may still be using what they would destroy. What must reach the disk on
// the way out registers with at_quick_exit.
[[noreturn]] void endProcessNow(int status) {
    std::fflush(nullptr);
    std::quick_exit(status);
}

// Said in the log, once: what the hooks had not done by the hard end is left undone.
void sayCutShort() {
    static std::atomic<bool> said{false};
    if (said.exchange(true)) return;
    static constexpr char kCutShort[] = "kadrix: the way out was cut short at its deadline\n";
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, kCutShort, sizeof kCutShort - 1);
}

// From a signal handler: nothing but the line and the end.
void cutShortOnAlarm(int) {
    sayCutShort();
    std::_Exit(g_exitStatus.load());
}

// The way out has had its time and something still holds it (a write stuck
// on a hung folder): ends at once, as things stand. The logs are flushed
// unless a stuck thread holds one of them; the settings' writer has written
// their last change by now (it waits half a second after a change).
[[noreturn]] void endProcessCutShort(int status) {
    for (FILE* f : {stdout, stderr}) {
        if (::ftrylockfile(f) != 0) continue;
        ::fflush_unlocked(f);
        ::funlockfile(f);
    }
    std::_Exit(status);
}

// The hard end is kept by a thread started with the application, waiting
// for the end to be asked for: a thread started then could find the
// process limit reached, and the main thread, which would start it, may be
// what holds the end.
std::atomic<bool> g_hardEndKept{false};
std::atomic<bool> g_hardEndArmed{false};
sem_t g_hardEndAsked;

// Ends the process at the way out's hard end; runs on its own thread.
[[noreturn]] void keepHardEnd() {
    while (::sem_wait(&g_hardEndAsked) != 0) {
    }
    std::this_thread::sleep_until(wayOutHardEndAt());
    // Should the telling hang on a lock a stuck thread keeps, the kernel's
    // alarm ends the process all the same.
    ::alarm(1);
    sayCutShort();
    runHardEndTellers();
    endProcessCutShort(g_exitStatus.load());
}

void startKeepingHardEnd() {
    static bool started = [] {
        if (::sem_init(&g_hardEndAsked, 0, 0) != 0) return false;
        g_hardEndKept = tryDetachedThread([] { keepHardEnd(); });
        return true;
    }();
    (void)started;
}

// Arms the hard end, once: it comes kWayOutHardEnd after the way out's
// deadlines count from. Async-signal-safe.
void armHardEnd() {
    if (g_hardEndArmed.exchange(true)) return;
    // Until the way out begins the alarm stays with whoever had it before
    // the application (the system's default, a fuzzer's watchdog): only the
    // hard end's own alarm ends the process through this handler.
    struct sigaction sa {};
    sa.sa_handler = cutShortOnAlarm;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGALRM, &sa, nullptr);
    if (g_hardEndKept.load()) {
        ::sem_post(&g_hardEndAsked);
        return;
    }
    // No thread keeps it: the kernel's alarm does, in whole seconds, and
    // says no more than that the end was cut short.
    ::alarm(unsigned(std::chrono::ceil<std::chrono::seconds>(kWayOutHardEnd).count()));
}

// Qt keeps state of its own (the file dialogs' last folder and view) in
// QtProject.conf under the user's config folder. With KADRIX_HOME set, all
// we write stays in it, the toolkit's files too.
void keepToolkitSettingsInKadrixHome() {
    const char* home = std::getenv("KADRIX_HOME");
    if (!home || !*home) return;
    const QString folder = QString::fromStdString(files::configDir());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}
}  // namespace

struct Application::Private {
    std::unique_ptr<QApplication> ownedApp;
    ActivationPolicy policy = ActivationPolicy::Regular;
    std::vector<std::function<void()>> terminateHooks;
    bool terminating = false;
    bool hidden = false;
    std::unique_ptr<QSocketNotifier> signalNotifier;
    QMetaObject::Connection stateConnection;
    std::shared_ptr<Menu> mainMenu;

    void runTerminateHooks() {
        if (terminating) return;
        terminating = true;
        // Nothing may veto the end, not even a thread the kernel keeps in a
        // write to a hung network folder: the hooks' waits give up at the
        // way out's deadline, and whatever still holds the end by the hard
        // end is cut short. Both count from a signal that asked for the end,
        // else from now; armed already when a signal came.
        wayOutAsked();
        armHardEnd();
        // Nothing holds the end back: the waits end (and the programs they
        // wait for) before the hooks tidy up behind them.
        beginWayOut();
        auto hooks = std::move(terminateHooks);
        for (auto& h : hooks)
            if (h) h();
        g_hooksDone = true;
    }

    // The bytes the signal handler and exitFromProcess() leave on the pipe.
    void takeSignalBytes() {
        char buf[16];
        auto n = ::read(g_signalPipe[0], buf, sizeof buf);
        for (ssize_t i = 0; i < n; ++i)
            if (buf[i] == kExitAsked) {
                runTerminateHooks();
                endProcessNow(g_exitStatus.load());
            }
        if (n > 0) Application::shared().terminate();
    }
};

Application::Application() : d_(std::make_unique<Private>()) {
    g_app = this;
}

Application::Application(int& argc, char** argv) : Application() {
    keepToolkitSettingsInKadrixHome();
    if (!QCoreApplication::instance()) d_->ownedApp = std::make_unique<QApplication>(argc, argv);
    // The toolkit draws and converts large images in bands on its pool while
    // the main thread waits: at the user's process limit a band on a thread
    // never started would hold the program for ever.
    holdToolkitThreads(int(std::min(usableCores(), 8u)));
    QApplication::setQuitOnLastWindowClosed(false);
    qt::deferStandardIcons(qobject_cast<QApplication*>(QCoreApplication::instance()));
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        d_->stateConnection =
            QObject::connect(gui, &QGuiApplication::applicationStateChanged, [this](Qt::ApplicationState s) {
                if (s == Qt::ApplicationActive) {
                    d_->hidden = false;
                    if (onDidBecomeActive) onDidBecomeActive();
                } else if (onDidResignActive) {
                    onDidResignActive();
                }
            });
    }
    g_appPid = ::getpid();
    startKeepingHardEnd();
    // Termination signals go through a socket pair so the hooks run on the
    // main thread, outside the signal handler.
    if (g_signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) == 0) {
        d_->signalNotifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(d_->signalNotifier.get(), &QSocketNotifier::activated,
                         [this] { d_->takeSignalBytes(); });
        struct sigaction sa {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGHUP, &sa, nullptr);
        sa.sa_handler = onBrokenPipe;
        sigaction(SIGPIPE, &sa, nullptr);
    }
}

Application::~Application() {
    QObject::disconnect(d_->stateConnection);
    if (d_->signalNotifier) {
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        d_->signalNotifier.reset();
        ::close(g_signalPipe[0]);
        ::close(g_signalPipe[1]);
        g_signalPipe[0] = g_signalPipe[1] = -1;
    }
    if (g_app == this) g_app = nullptr;
}

Application& Application::shared() {
    if (!g_app) {
        static int argc = 0;
        static char* argv[] = {nullptr};
        static Application* made = new Application(argc, argv);
        (void)made;
    }
    return *g_app;
}

int Application::run() {
    g_ownsExit = true;
    if (onWillFinishLaunching) onWillFinishLaunching();
    QTimer::singleShot(0, [this] {
        if (onDidFinishLaunching) onDidFinishLaunching();
    });
    int code = QCoreApplication::exec();
    d_->runTerminateHooks();
    return code;
}

void Application::endProcess(int status) {
    endProcessNow(status);
}

void Application::exitFromProcess(int status) {
    // A child made by fork(): its parent's way out is none of its business.
    if (inForkedChild()) std::_Exit(status);
    // The way out has run (the toolkit may be tearing down): end as it ends.
    if (g_hooksDone) endProcessNow(status);
    if (!g_ownsExit || !g_app) {
        // Not running the loop (start-up, a unit test): the C library's own exit.
        using Exit = void (*)(int);
        static auto libcExit = reinterpret_cast<Exit>(::dlsym(RTLD_NEXT, "exit"));
        if (libcExit) libcExit(status);
        std::_Exit(status);
    }
    if (isMainThread()) {
        // Everything the hooks use is still alive here, so they run before
        // anything is torn down; a second exit() from inside them ends at once.
        g_app->d_->runTerminateHooks();
        endProcessNow(status);
    }
    // Only the main thread runs the way out: it is asked to, and this thread
    // waits for it, touching nothing.
    g_exitStatus = status;
    char c = kExitAsked;
    if (g_signalPipe[1] >= 0) {
        [[maybe_unused]] auto n = ::write(g_signalPipe[1], &c, 1);
    }
    std::this_thread::sleep_for(std::chrono::seconds(10));
    // The main thread is stuck: end without it rather than not at all.
    std::_Exit(status);
}

void Application::terminate() {
    d_->runTerminateHooks();
    // Not quit(): that asks every window to close first, and a window that
    // only hides (the editor) would call the whole termination off.
    QCoreApplication::exit(0);
}

bool Application::isTerminating() const {
    return d_->terminating;
}

void Application::addWillTerminateHook(std::function<void()> hook) {
    d_->terminateHooks.push_back(std::move(hook));
}

ActivationPolicy Application::activationPolicy() const {
    return d_->policy;
}

void Application::setMainMenu(std::shared_ptr<Menu> menu) {
    d_->mainMenu = std::move(menu);
    if (d_->mainMenu) qt::installInputFilter();
}

const std::shared_ptr<Menu>& Application::mainMenu() const {
    return d_->mainMenu;
}

void Application::setIconImages(const std::vector<Image>& images) {
    QIcon icon;
    // Sized by pixels: the window manager asks for pixel sizes, not points.
    for (auto& image : images)
        if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(qt::wrap(image).copy()));
    if (!icon.isNull()) QApplication::setWindowIcon(icon);
}

void Application::setActivationPolicy(ActivationPolicy policy) {
    d_->policy = policy;
    for (auto& [w, widget] : g_windows) qt::applyTaskbarPresence(widget);
}

void Application::activate() {
    // Coming back from hide() shows what hide() took away.
    if (d_->hidden) {
        for (auto& [w, widget] : g_windows)
            if (std::find(g_hiddenWindows.begin(), g_hiddenWindows.end(), widget) != g_hiddenWindows.end())
                widget->show();
        g_hiddenWindows.clear();
    }
    d_->hidden = false;
    QWidget* front = nullptr;
    for (auto& [w, widget] : g_windows)
        if (widget->isVisible() && !widget->testAttribute(Qt::WA_ShowWithoutActivating)) front = widget;
    if (!front) return;
    front->raise();
    front->activateWindow();
}

void Application::hide() {
    d_->hidden = true;
    for (auto& [w, widget] : g_windows) {
        if (!widget->isVisible()) continue;
        g_hiddenWindows.push_back(widget);
        widget->hide();
    }
}

bool Application::isActive() const {
    return QGuiApplication::applicationState() == Qt::ApplicationActive;
}
bool Application::isHidden() const {
    return d_->hidden;
}
bool Application::isModalRunning() const {
    return QApplication::activeModalWidget() != nullptr;
}
void Application::beep() {
    QApplication::beep();
}

void Application::syncWindowServer() {
#ifdef KIT_HAVE_XCB
    if (QGuiApplication::platformName() != "xcb") return;
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return;
    // Any request with a reply makes a round trip behind the ones before it.
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
#endif
}

bool Application::hasCompositor() {
#ifdef KIT_HAVE_XCB
    if (QGuiApplication::platformName() != "xcb") return false;
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return false;
    // The compositing manager owns the selection _NET_WM_CM_S<screen>.
    const char* name = "_NET_WM_CM_S0";
    auto* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    if (!atom) return false;
    auto* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
    bool running = owner && owner->owner != XCB_NONE;
    free(atom);
    free(owner);
    return running;
#else
    return false;
#endif
}

std::vector<std::string> Application::arguments() const {
    std::vector<std::string> out;
    for (const QString& a : QCoreApplication::arguments()) out.push_back(a.toStdString());
    return out;
}

std::vector<Window*> Application::windows() const {
    std::vector<Window*> out;
    for (auto& [w, widget] : g_windows) out.push_back(w);
    return out;
}

Window* Application::keyWindow() const {
    QWidget* active = QApplication::activeWindow();
    for (auto& [w, widget] : g_windows)
        if (widget == active) return w;
    return nullptr;
}

}  // namespace kit

// The toolkit's X11 plugin calls exit() when the connection to the X server
// breaks (the session ended), and so does Xlib's fatal I/O error handler,
// possibly on another thread. Left to the C library, exit() would run the
// static destructors while the event loop, the worker threads and our
// termination hooks still use what they destroy. Taken here, the hooks run
// once, on the main thread, with everything alive, and the process ends
// without tearing anything down.
extern "C" void exit(int status) noexcept {
    kit::Application::exitFromProcess(status);
}

namespace kit {
namespace qt {

void registerWindow(Window* window, QWidget* widget) {
    g_windows.emplace_back(window, widget);
}

void unregisterWindow(Window* window) {
    for (auto& [w, widget] : g_windows)
        if (w == window) std::erase(g_hiddenWindows, widget);
    std::erase_if(g_windows, [&](auto& p) { return p.first == window; });
}

void applyTaskbarPresence(QWidget* widget) {
    bool skip = Application::shared().activationPolicy() != ActivationPolicy::Regular;
    setNetWmState(widget, "_NET_WM_STATE_SKIP_TASKBAR", skip);
}

namespace {

#ifdef KIT_HAVE_XCB
xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    auto cookie = xcb_intern_atom(c, 0, uint16_t(strlen(name)), name);
    xcb_atom_t a = XCB_ATOM_NONE;
    if (auto* r = xcb_intern_atom_reply(c, cookie, nullptr)) {
        a = r->atom;
        free(r);
    }
    return a;
}

// The X connection of a top-level that has its native window; null off X11
// (the offscreen platform may answer the X11 interface without a connection).
xcb_connection_t* connectionOf(QWidget* widget) {
    if (QGuiApplication::platformName() != "xcb") return nullptr;
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !widget || !widget->isWindow() || !widget->windowHandle()) return nullptr;
    return x11->connection();
}
#endif

// Sends an EWMH client message about a mapped top-level to the root window,
// where the window manager reads it. `data` may name atoms by string.
void sendWmMessage(QWidget* widget, const char* type, std::initializer_list<uint32_t> data,
                   const char* atomArgument = nullptr) {
#ifdef KIT_HAVE_XCB
    xcb_connection_t* c = connectionOf(widget);
    if (!c) return;
    xcb_atom_t typeAtom = internAtom(c, type);
    if (typeAtom == XCB_ATOM_NONE) return;
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = xcb_window_t(widget->winId());
    ev.type = typeAtom;
    size_t i = 0;
    for (uint32_t d : data) ev.data.data32[i++] = d;
    if (atomArgument) {
        xcb_atom_t a = internAtom(c, atomArgument);
        if (a == XCB_ATOM_NONE) return;
        ev.data.data32[1] = a;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_send_event(c, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&ev));
    xcb_flush(c);
#else
    (void)widget, (void)type, (void)data, (void)atomArgument;
#endif
}

}  // namespace

void setNetWmState(QWidget* widget, const char* atomName, bool on) {
    // _NET_WM_STATE_ADD / _REMOVE, the state, no second state, source: application.
    sendWmMessage(widget, "_NET_WM_STATE", {on ? 1u : 0u, 0u, 0u, 1u}, atomName);
}

void setOnAllDesktops(QWidget* widget, bool on) {
    if (on) setNetWmState(widget, "_NET_WM_STATE_STICKY", true);
    // Window managers without the sticky state put a window on every desktop
    // by desktop number 0xFFFFFFFF.
    sendWmMessage(widget, "_NET_WM_DESKTOP", {on ? 0xFFFFFFFFu : 0u, 1u});
    if (!on) setNetWmState(widget, "_NET_WM_STATE_STICKY", false);
}

void setAspectHint(QWidget* widget, Size aspect) {
#ifdef KIT_HAVE_XCB
    xcb_connection_t* c = connectionOf(widget);
    if (!c) return;
    const auto window = xcb_window_t(widget->winId());
    // WM_SIZE_HINTS: 18 words; the flags first, the aspect pair at 11 to 14.
    constexpr uint32_t kAspectFlag = 1u << 7;
    uint32_t hints[18] = {};
    auto cookie = xcb_get_property(c, 0, window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 0, 18);
    if (auto* r = xcb_get_property_reply(c, cookie, nullptr)) {
        if (r->format == 32)
            std::memcpy(hints, xcb_get_property_value(r),
                        std::min<size_t>(sizeof hints, size_t(xcb_get_property_value_length(r))));
        free(r);
    }
    if (aspect.width > 0 && aspect.height > 0) {
        // Hundredths keep the proportions of fractional point sizes.
        const auto w = uint32_t(std::lround(aspect.width * 100)),
                   h = uint32_t(std::lround(aspect.height * 100));
        hints[0] |= kAspectFlag;
        hints[11] = hints[13] = w;
        hints[12] = hints[14] = h;
    } else {
        hints[0] &= ~kAspectFlag;
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS,
                        32, 18, hints);
    xcb_flush(c);
#else
    (void)widget, (void)aspect;
#endif
}

void requestActivation(QWidget* widget) {
    // _NET_ACTIVE_WINDOW from a pager (source 2) at the current time: window
    // managers let it through where focus-stealing prevention holds back an
    // application's own request made with a stale user time.
    sendWmMessage(widget, "_NET_ACTIVE_WINDOW", {2u, 0u, 0u});
}

bool holdsInputFocus(QWidget* widget) {
#ifdef KIT_HAVE_XCB
    if (xcb_connection_t* c = connectionOf(widget)) {
        auto* r = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
        if (!r) return false;
        const bool ours = r->focus == xcb_window_t(widget->winId());
        free(r);
        return ours;
    }
#endif
    return widget && widget->isActiveWindow();
}

}  // namespace qt
}  // namespace kit
