#pragma once
// A clean shortcut world per test: an empty defaults store, no registrations,
// and a fake system side that records grabs and can refuse combinations.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "kit/base/Defaults.h"
#include "kit/desktop/KeyLayout.h"
#include "shortcuts/HotKeyCenter.h"

class ShortcutsFixture : public ::testing::Test {
protected:
    struct FakeSystem {
        uint32_t nextId = 100;
        std::map<uint32_t, shortcuts::Shortcut> grabbed;
        std::set<shortcuts::Shortcut> refused;
        int grabs = 0, ungrabs = 0;
    };

    void SetUp() override {
        kit::Defaults::standard().removeAll();
        shortcuts::removeAllHandlers();
        kit::KeyLayout::useLayoutsForTesting("us");
        shortcuts::setBackend({
            [this](const shortcuts::Shortcut& s) -> std::optional<uint32_t> {
                ++sys.grabs;
                if (sys.refused.count(s)) return std::nullopt;
                sys.grabbed.emplace(++sys.nextId, s);
                return sys.nextId;
            },
            [this](uint32_t id) {
                ++sys.ungrabs;
                sys.grabbed.erase(id);
            },
            [this](const shortcuts::Shortcut& s) { return !sys.refused.count(s); },
        });
    }

    void TearDown() override {
        while (shortcuts::isPaused()) shortcuts::resumeDispatch();
        shortcuts::removeAllHandlers();
        shortcuts::setBackend({});
        kit::KeyLayout::useLayoutsForTesting("");
        kit::Defaults::standard().removeAll();
    }

    // Fires the grab of a combination as the X server would.
    void press(const shortcuts::Shortcut& s, bool pressed = true) {
        for (auto& [id, g] : sys.grabbed)
            if (g == s) {
                shortcuts::handleHotKey(id, pressed);
                return;
            }
    }

    int grabsOf(const shortcuts::Shortcut& s) const {
        int n = 0;
        for (auto& [id, g] : sys.grabbed) n += g == s;
        return n;
    }

    FakeSystem sys;
};
