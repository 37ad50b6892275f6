#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "kit/base/Session.h"

namespace {

auto envOf(const std::map<std::string, std::string>& vars) {
    return [vars](const char* name) -> const char* {
        auto it = vars.find(name);
        return it == vars.end() ? nullptr : it->second.c_str();
    };
}

std::optional<std::string> problemWith(std::map<std::string, std::string> vars) {
    return kit::x11SessionProblem(envOf(vars));
}

TEST(Session, NamesWhatIsMissingInOneLine) {
    auto none = problemWith({});
    ASSERT_TRUE(none);
    EXPECT_NE(none->find("DISPLAY is not set"), std::string::npos);
    EXPECT_EQ(none->find('\n'), std::string::npos);
    EXPECT_TRUE(problemWith({{"DISPLAY", ""}}));

    // A display nobody serves.
    auto dead = problemWith({{"DISPLAY", ":987"}});
    ASSERT_TRUE(dead);
    EXPECT_NE(dead->find("\":987\""), std::string::npos);

    // A Wayland session, by either sign, even with XWayland's display set.
    auto wayland = problemWith({{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}});
    ASSERT_TRUE(wayland);
    EXPECT_NE(wayland->find("X11 sessions only"), std::string::npos);
    EXPECT_TRUE(problemWith({{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "wayland"}}));
    EXPECT_TRUE(problemWith({{"QT_QPA_PLATFORM", "xcb"}, {"XDG_SESSION_TYPE", "wayland"}}));

    // A headless platform chosen on purpose needs no display.
    EXPECT_FALSE(problemWith({{"QT_QPA_PLATFORM", "offscreen"}}));
}

TEST(Session, AnAnsweringDisplayIsFine) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "no X display in this run";
    EXPECT_FALSE(problemWith({{"DISPLAY", display}, {"XDG_SESSION_TYPE", "x11"}}));
}

TEST(Session, KadrixHomeIsMadePrivateOrNamedAsTheProblem) {
    const std::filesystem::path base = std::filesystem::path(std::getenv("KADRIX_HOME")) / "session-homes";
    EXPECT_FALSE(kit::kadrixHomeProblem(envOf({})));

    const std::string fresh = (base / "new" / "home").string();
    EXPECT_FALSE(kit::kadrixHomeProblem(envOf({{"KADRIX_HOME", fresh}})));
    struct stat st {};
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_FALSE(kit::kadrixHomeProblem(envOf({{"KADRIX_HOME", fresh}})));  // again: already there

    const std::string file = (base / "a-file").string();
    std::ofstream(file) << "x";
    auto inTheWay = kit::kadrixHomeProblem(envOf({{"KADRIX_HOME", file}}));
    ASSERT_TRUE(inTheWay);
    EXPECT_NE(inTheWay->find(file), std::string::npos);
    auto below = kit::kadrixHomeProblem(envOf({{"KADRIX_HOME", file + "/home"}}));
    ASSERT_TRUE(below);
    EXPECT_NE(below->find("cannot be made"), std::string::npos) << *below;
}

}  // namespace
