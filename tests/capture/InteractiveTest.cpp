// The interactive capture and the region picker against a stand-in tool: a
// script that records its arguments, prints what the real tool prints and
// writes (or does not write) the file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "capture/Capturer.h"
#include "capture/ScrollCapturer.h"
#include "capture/Synthetic.h"
#include "capture/VisionStitcher.h"
#include "kit/base/Files.h"
#include "kit/image/CapturePNG.h"

using capture::Capturer;
using capture::WindowShadow;
using namespace testing_capture;

class Interactive : public ::testing::Test {
protected:
    void SetUp() override {
        dir = kit::files::tempDir() + "/fake-tool";
        kit::files::makeDirs(dir);
        argsFile = dir + "/args";
        kit::files::remove(argsFile);
        picture = makePage(30, 20);
        // Like the real tool, the file records the rectangle it shows.
        auto png = kit::encodeCapturePNG(picture, {{"kadrix.capture-rect", "[10.7, 20, 300, 200]"}});
        kit::files::writeAtomic(dir + "/picture.png", std::string(png.begin(), png.end()));
        spy.toolPath = dir + "/tool";
        spy.install();
        desk = installDesktop(800, 600, 600, 3);
        capture::captureContext() = {};
    }
    void TearDown() override {
        kit::setScreenSource(nullptr);
        capture::resetHost();
    }
    // `say` goes to the error output; the file is written unless `exitCode` is not 0.
    void tool(const std::string& say, int exitCode = 0) {
        std::ofstream f(spy.toolPath);
        f << "#!/bin/sh\necho \"$@\" >> '" << argsFile << "'\n"
          << "p=''; for a in \"$@\"; do case \"$a\" in -*) ;; *) p=\"$a\";; esac; done\n"
          << "printf '%s\\n' '" << say << "' >&2\n";
        if (exitCode == 0) f << "cp '" << dir << "/picture.png' \"$p\"\n";
        f << "exit " << exitCode << "\n";
        f.close();
        chmod(spy.toolPath.c_str(), 0755);
    }
    std::string args() {
        auto a = kit::files::readAll(argsFile);
        return a ? *a : "";
    }
    std::string dir, argsFile;
    kit::Image picture;
    HostSpy spy;
    std::shared_ptr<FakeDesktop> desk;
};

TEST_F(Interactive, AreaSelectionAndItsRepeat) {
    tool("selected area (10.7, 20, 300, 200)");
    kit::Image img = Capturer::interactive(WindowShadow::trimmed, false, false, false);
    EXPECT_EQ(img, picture);
    EXPECT_EQ(capture::captureContext().rememberedArea, kit::Rect(10.7, 20, 300, 200));
    std::string first = args();
    EXPECT_EQ(first.rfind("-x -i ", 0), 0u);
    EXPECT_NE(first.find(".png -o\n"), std::string::npos);  // -o follows the path

    kit::files::remove(argsFile);
    Capturer::interactive(WindowShadow::trimmed, false, true, false);
    std::string again = args();
    EXPECT_EQ(again.rfind("-x -R10,20,300,200 ", 0), 0u);
    EXPECT_EQ(again.substr(again.size() - 5), ".png\n");  // nothing after the path: no -o
    EXPECT_TRUE(spy.notices.empty());
}

TEST_F(Interactive, CancelFailureAndRememberedArea) {
    capture::captureContext().rememberedArea = kit::Rect(1, 2, 3, 4);
    tool("selection cancelled", 1);
    EXPECT_TRUE(Capturer::interactive(WindowShadow::transparent, true, false, true).isNull());
    EXPECT_EQ(capture::captureContext().rememberedArea,
              kit::Rect(1, 2, 3, 4));  // text recognition leaves it alone
    EXPECT_NE(args().find("-w"), std::string::npos);
    EXPECT_TRUE(Capturer::interactive(WindowShadow::transparent, false, false, false).isNull());
    EXPECT_FALSE(capture::captureContext().rememberedArea);
    EXPECT_TRUE(spy.notices.empty());
    EXPECT_TRUE(spy.oopses.empty());

    // A tool that fails is not a cancel.
    tool("error: the screen could not be grabbed", 3);
    EXPECT_TRUE(Capturer::interactive(WindowShadow::transparent, false, false, false).isNull());
    EXPECT_EQ(spy.notices, std::vector<std::string>{"Area capture failed"});
    EXPECT_EQ(spy.oopses.size(), 1u);
    spy.toolPath = dir + "/missing-tool";
    EXPECT_TRUE(Capturer::interactive(WindowShadow::transparent, false, false, false).isNull());
    EXPECT_EQ(spy.notices.size(), 2u);

    // With no area to repeat, the notice waits for the tool's selection
    // screen (so it shows above the frozen screen): no screen, no notice.
    spy.toolPath = dir + "/tool";
    tool("error: the screen could not be grabbed", 3);
    Capturer::interactive(WindowShadow::transparent, false, true, false);
    EXPECT_EQ(spy.notices.back(), "Area capture failed");
    tool("kadrix-screencapture: waiting for a selection", 1);
    Capturer::interactive(WindowShadow::transparent, false, true, false);
    EXPECT_EQ(spy.notices.back(), "No area to repeat");
    EXPECT_EQ(spy.notices.size(), 4u);
}

TEST_F(Interactive, AsyncModeHandlesTheAreaWhileTheToolRuns) {
    tool("selected area (100, 50, 40, 30) and (1, 1, 1, 1)");
    kit::Rect seen;
    kit::Image got;
    kit::Image img = Capturer::interactive(WindowShadow::transparent, false, false, false,
                                           [&](const kit::Image& i, double x, double y, double w, double h) {
                                               seen = kit::Rect(x, y, w, h);
                                               got = i;
                                               return true;
                                           });
    EXPECT_TRUE(img.isNull());
    EXPECT_EQ(seen, kit::Rect(100, 50, 40, 30));
    EXPECT_EQ(got, rows(desk->page, 50, 30).cropped(100, 0, 40, 30));
}

TEST_F(Interactive, RegionPickerReadsTheFirstList) {
    tool("selected area (5, 6, 70, 80)");
    EXPECT_EQ(capture::ScrollCapturer::captureRect(), kit::Rect(5, 6, 70, 80));
    EXPECT_EQ(args().rfind("-i -s -x ", 0), 0u);
    tool("selection cancelled", 1);
    EXPECT_FALSE(capture::ScrollCapturer::captureRect());
    tool("selected area (5, x, 70, 80)");
    // No list of numbers in the log: the rectangle comes from the file.
    EXPECT_EQ(capture::ScrollCapturer::captureRect(), kit::Rect(10.7, 20, 300, 200));
}

TEST_F(Interactive, ScrollingCaptureWarnsWhenTheToolFailsButNotOnACancel) {
    using capture::ScrollCapturer;
    using capture::VisionStitcher;
    bool called = false;
    auto then = [&](const kit::Image&) { called = true; };
    tool("selection cancelled", 1);
    ScrollCapturer::start(-1, std::nullopt, then);
    VisionStitcher::startLiveCapture(std::nullopt, then);
    EXPECT_TRUE(spy.warnings.empty());

    tool("error: the screen could not be grabbed", 3);
    ScrollCapturer::start(-1, std::nullopt, then);
    VisionStitcher::startLiveCapture(std::nullopt, then);
    spy.toolPath = dir + "/missing-tool";
    ScrollCapturer::start(-1, std::nullopt, then);
    EXPECT_EQ(spy.warnings, std::vector<std::string>(3, "Can't take a scrolling screenshot"));
    EXPECT_FALSE(called);
    EXPECT_FALSE(ScrollCapturer::isCapturing());

    // A tool that showed the region but could not write its file (no temp
    // folder) still gives the region: the capture goes on.
    spy.toolPath = dir + "/tool";
    tool("selected area (5, 6, 70, 80)\nerror: cannot write the file", 3);
    EXPECT_EQ(ScrollCapturer::pickRegion().kind, capture::RegionPick::Kind::picked);
    EXPECT_EQ(ScrollCapturer::captureRect(), kit::Rect(5, 6, 70, 80));
    EXPECT_EQ(spy.warnings.size(), 3u);
}
