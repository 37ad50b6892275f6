#pragma once
// Waiting in tests that run the Qt event loop: spin for a while, or until a
// condition holds (polled every 25–50 ms).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace testsupport {

inline void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Turns the event loop for up to ms milliseconds, or until done() holds.
inline void pump(int ms, const std::function<bool()>& done = {}) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms && !(done && done())) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

template <class Pred>
bool waitFor(Pred p, int ms = 10000, int step = 50) {
    for (int t = 0; t < ms; t += step) {
        if (p()) return true;
        spin(step);
    }
    return p();
}

}  // namespace testsupport
