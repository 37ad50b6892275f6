// Workspace refuses what cannot be opened before it reaches the desktop.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QTextBrowser>
#include <QUrl>

#include "kit/desktop/Workspace.h"

using namespace kit;

TEST(Workspace, RefusesMalformedUrlsAndMissingFiles) {
    EXPECT_FALSE(Workspace::openURL(""));
    EXPECT_FALSE(Workspace::openURL("no scheme here"));
    EXPECT_FALSE(Workspace::openURL("http://exa mple.org/%zz"));
    EXPECT_FALSE(Workspace::openFile("/nonexistent/kadrix/file.png"));
    EXPECT_FALSE(Workspace::revealFile("/nonexistent/kadrix/file.png"));
}

// URL handlers stand in for the desktop: they see what would be opened.
TEST(Workspace, HandsUrlsToTheDesktopButNotAnotherPlatformsSettingsPanes) {
    QTextBrowser opened, settings;  // setSource(QUrl) records the URL each is given
    QDesktopServices::setUrlHandler("kadrix-test", &opened, "setSource");
    QDesktopServices::setUrlHandler("x-apple.systempreferences", &settings, "setSource");
    EXPECT_TRUE(Workspace::openURL("kadrix-test:page"));
    EXPECT_EQ(opened.source(), QUrl("kadrix-test:page"));
    EXPECT_FALSE(
        Workspace::openURL("x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"));
    EXPECT_TRUE(settings.source().isEmpty()) << "nothing here opens those panes";
    QDesktopServices::unsetUrlHandler("kadrix-test");
    QDesktopServices::unsetUrlHandler("x-apple.systempreferences");
}
