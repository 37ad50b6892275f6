// Shared main for every unit-test executable: a headless Qt application (the
// offscreen platform) so kit's windows, timers and painting work without a
// display, a private KADRIX_HOME so no test touches the user's files, and the
// product site on loopback.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!std::getenv("KADRIX_HOME")) {
        std::string tmpl = (std::filesystem::temp_directory_path() / "kadrix-test-XXXXXX").string();
        if (char* dir = mkdtemp(tmpl.data())) setenv("KADRIX_HOME", dir, 1);
    }
    // Unit tests never reach the real product site: what they send goes to a
    // closed loopback port unless a test starts a server of its own.
    if (!std::getenv("KADRIX_SITE")) setenv("KADRIX_SITE", "http://127.0.0.1:9", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
