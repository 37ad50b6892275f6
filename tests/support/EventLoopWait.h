#pragma once
// Waiting in tests that run the Qt event loop: spin for a while, or until a
// condition holds (polled every 25–50 ms).
#include <QEventLoop>
#include <QTimer>

namespace testsupport {

inline void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
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
