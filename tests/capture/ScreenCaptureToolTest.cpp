#include <gtest/gtest.h>

#include "tools/screencapture/ScreenCaptureTool.h"

using tool::Options;
using tool::parseOptions;

TEST(ScreenCaptureTool, OptionsBeforeAndAfterThePath) {
    Options o = parseOptions({"-x", "-i", "/tmp/a.png", "-o"});
    EXPECT_TRUE(o.error.empty());
    EXPECT_EQ(o.mode, Options::Mode::area);
    EXPECT_EQ(o.path, "/tmp/a.png");
    EXPECT_EQ(parseOptions({"-w", "/tmp/a.png"}).mode, Options::Mode::window);
    EXPECT_EQ(parseOptions({"/tmp/a.png", "-s"}).mode, Options::Mode::selection);

    Options r = parseOptions({"-x", "-R10,20,300,200", "/tmp/b.png"});
    EXPECT_EQ(r.mode, Options::Mode::rect);
    EXPECT_EQ(r.rect, kit::Rect(10, 20, 300, 200));
    EXPECT_EQ(parseOptions({"-R", "-5.5,0,1,2", "/tmp/b.png"}).rect, kit::Rect(-5.5, 0, 1, 2));
}

TEST(ScreenCaptureTool, BadOptionsAreRefusedWithAReason) {
    EXPECT_EQ(parseOptions({"-x"}).error, "no file given");
    EXPECT_EQ(parseOptions({"-q", "/tmp/a.png"}).error, "unknown option -q");
    EXPECT_EQ(parseOptions({"/tmp/a.png", "/tmp/b.png"}).error, "more than one file given");
    for (const char* bad : {"-R1,2,3", "-R1,2,3,4,5", "-R1,2,0,4", "-Ra,b,c,d", "-R1,2,nan,4", "-R"})
        EXPECT_FALSE(parseOptions({bad, "/tmp/a.png"}).error.empty()) << bad;
}

TEST(ScreenCaptureTool, RectangleTextReadsBackAsTheSameNumbers) {
    EXPECT_EQ(tool::rectText(kit::Rect(10, 20, 300, 200)), "(10, 20, 300, 200)");
    EXPECT_EQ(tool::rectText(kit::Rect(-1.5, 0, 0.25, 7)), "(-1.5, 0, 0.25, 7)");
}
