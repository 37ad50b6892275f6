#include "kit/base/InputWait.h"

#include <poll.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <climits>

#include "kit/base/WayOut.h"

namespace kit {

namespace {

using Steady = std::chrono::steady_clock;

std::chrono::milliseconds leftUntil(Steady::time_point until) {
    if (until == Steady::time_point::max()) return std::chrono::milliseconds(INT_MAX);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Steady::now());
    return std::clamp(left, std::chrono::milliseconds(0), std::chrono::milliseconds(INT_MAX));
}

InputWait turningTheLoop(int fd, Steady::time_point until, const std::function<bool()>& arrived) {
    if (wayOutBegun()) return InputWait::cancelled;
    QEventLoop loop;
    InputWait result = InputWait::timeUp;
    QSocketNotifier notifier(fd, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &loop, [&] {
        if (!arrived()) return;
        result = InputWait::done;
        notifier.setEnabled(false);
        loop.quit();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    // A coarse timer may fire early; the deadline is one callers share.
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    WayOutWatch watch([&] {
        result = InputWait::cancelled;
        loop.quit();
    });
    deadline.start(leftUntil(until));
    loop.exec();
    return result;
}

}  // namespace

InputWait awaitInput(int fd, Steady::time_point until, const std::function<bool()>& arrived) {
    if (arrived()) return InputWait::done;
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) return turningTheLoop(fd, until, arrived);
    for (;;) {
        const auto left = leftUntil(until);
        if (left.count() <= 0) return InputWait::timeUp;
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, int(left.count()));
        if (r < 0 && errno != EINTR) return InputWait::failed;
        if (r > 0 && arrived()) return InputWait::done;
    }
}

}  // namespace kit
