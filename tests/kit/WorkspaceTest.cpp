// Workspace refuses what cannot be opened before it reaches the desktop.
#include <gtest/gtest.h>

#include "kit/Workspace.h"

using namespace kit;

TEST(Workspace, RefusesMalformedUrlsAndMissingFiles) {
    EXPECT_FALSE(Workspace::openURL(""));
    EXPECT_FALSE(Workspace::openURL("no scheme here"));
    EXPECT_FALSE(Workspace::openURL("http://exa mple.org/%zz"));
    EXPECT_FALSE(Workspace::openFile("/nonexistent/kadrix/file.png"));
    EXPECT_FALSE(Workspace::revealFile("/nonexistent/kadrix/file.png"));
}
