#pragma once
// A case of this test program run as a process of its own (a writer to kill
// mid-stride): a fork of the multi-threaded test process could leave the
// child waiting on a lock that another thread held at the fork.
#include <QProcess>
#include <QProcessEnvironment>
#include <string>

namespace testsupport {

// Starts the case `test` ("Suite.Name") in `process` with `var` set to
// `value`; false when it did not start.
inline bool startOwnCase(QProcess& process, const std::string& test, const char* var, const std::string& value) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(var, QString::fromStdString(value));
    process.setProcessEnvironment(env);
    process.start("/proc/self/exe", {QString::fromStdString("--gtest_filter=" + test)});
    return process.waitForStarted(10000);
}

}  // namespace testsupport
