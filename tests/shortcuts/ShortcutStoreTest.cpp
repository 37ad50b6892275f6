// Names, storage, registration and dispatch of global shortcuts.
#include "ShortcutsFixture.h"
#include "kit/base/Json.h"
#include "shortcuts/Name.h"

using namespace shortcuts;
using kit::ModifierFlag::CapsLock;
using kit::ModifierFlag::Command;
using kit::ModifierFlag::Control;
using kit::ModifierFlag::Option;
using kit::ModifierFlag::Shift;

namespace {

const Shortcut kCmdShift1(Key{Key::one}, Command | Shift);
const Shortcut kCmdShift2(Key{Key::two}, Command | Shift);

struct ChangeCounter {
    explicit ChangeCounter(std::string raw) : raw(std::move(raw)) {
        token = observeShortcutChanges([this](const Name& n) { count += n.rawValue == this->raw; });
    }
    ~ChangeCounter() { removeShortcutObserver(token); }
    std::string raw;
    int count = 0;
    ObserverToken token;
};

}  // namespace

using ShortcutStore = ShortcutsFixture;

TEST_F(ShortcutStore, ModifiersKeepOnlyTheFourAndTheJsonFormIsTwoIntegers) {
    EXPECT_EQ(Shortcut(Key{Key::one}, Command | Shift | CapsLock).carbonModifiers, 768);
    EXPECT_EQ(Shortcut(Key{Key::o}, Control | Option | Command).carbonModifiers, 6400);
    EXPECT_EQ(Shortcut(18, 768 | 2).carbonModifiers, 768);
    auto json = kit::json::parse(kCmdShift1.json());
    ASSERT_TRUE(json);
    EXPECT_EQ(*json, (kit::Json{{"carbonKeyCode", 18}, {"carbonModifiers", 768}}));
    EXPECT_EQ(Shortcut::fromJSON(R"({"carbonModifiers":768,"carbonKeyCode":18})"), kCmdShift1);
    EXPECT_FALSE(Shortcut::fromJSON("false"));
    EXPECT_FALSE(Shortcut::fromJSON(R"({"carbonKeyCode":"18","carbonModifiers":768})"));
}

TEST_F(ShortcutStore, DefaultIsStoredRegisteredAndAnnouncedOnlyOnFirstUse) {
    ChangeCounter changes("fullscreen");
    Name first("fullscreen", kCmdShift1);
    EXPECT_EQ(kit::Defaults::standard().string("KeyboardShortcuts_fullscreen"), kCmdShift1.json());
    EXPECT_EQ(grabsOf(kCmdShift1), 1);
    EXPECT_EQ(changes.count, 1);

    Name again("fullscreen", kCmdShift1);  // the next start
    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(sys.grabs, 1);
}

TEST_F(ShortcutStore, RemovedShortcutStaysRemovedAndBlocksTheDefault) {
    Name name("area", kCmdShift2);
    ChangeCounter changes("area");
    setShortcut(std::nullopt, name);
    EXPECT_EQ(kit::Defaults::standard().object("KeyboardShortcuts_area"), kit::Json(false));
    EXPECT_EQ(grabsOf(kCmdShift2), 0);
    EXPECT_EQ(changes.count, 1);

    Name nextStart("area", kCmdShift2);
    EXPECT_FALSE(getShortcut(nextStart));
    EXPECT_EQ(grabsOf(kCmdShift2), 0);

    setShortcut(std::nullopt, nextStart);  // nothing to remove: no write, no notice
    EXPECT_EQ(changes.count, 1);
}

TEST_F(ShortcutStore, TextThatIsNoShortcutReadsAsNoneAndBlocksTheDefault) {
    kit::Defaults::standard().set("KeyboardShortcuts_ocr", "not json");
    Name name("ocr", kCmdShift1);
    EXPECT_FALSE(getShortcut(name));
    EXPECT_EQ(kit::Defaults::standard().string("KeyboardShortcuts_ocr"), "not json");
    EXPECT_EQ(sys.grabs, 0);
}

TEST_F(ShortcutStore, StoringTheSameShortcutRegistersAgainAndAnnounces) {
    Name name("fullscreen", kCmdShift1);
    ChangeCounter changes("fullscreen");
    setShortcut(kCmdShift1, name);
    EXPECT_EQ(sys.grabs, 2);
    EXPECT_EQ(sys.ungrabs, 1);
    EXPECT_EQ(grabsOf(kCmdShift1), 1);
    EXPECT_EQ(changes.count, 1);
}

TEST_F(ShortcutStore, ResetBringsBackDefaultsAndRemovesTheRest) {
    Name withDefault("fullscreen", kCmdShift1);
    Name without("window");
    setShortcut(std::nullopt, withDefault);
    setShortcut(kCmdShift2, without);
    reset({withDefault, without});
    EXPECT_EQ(getShortcut(withDefault), kCmdShift1);
    EXPECT_FALSE(getShortcut(without));
    EXPECT_EQ(kit::Defaults::standard().object("KeyboardShortcuts_window"), kit::Json(false));
    EXPECT_EQ(grabsOf(kCmdShift1), 1);
    EXPECT_EQ(grabsOf(kCmdShift2), 0);
}

TEST_F(ShortcutStore, APressRunsTheActionsOfEveryNameStoringItInOrderAndOnlyKeyDownOnes) {
    Name a("a"), b("b");
    setShortcut(kCmdShift1, a);
    setShortcut(kCmdShift1, b);
    EXPECT_EQ(grabsOf(kCmdShift1), 1);  // one registration for both
    std::vector<std::string> ran;
    onKeyDown(a, [&] { ran.push_back("a1"); });
    onKeyDown(a, [&] { ran.push_back("a2"); });
    onKeyDown(b, [&] { ran.push_back("b"); });
    press(kCmdShift1);
    EXPECT_EQ(ran, (std::vector<std::string>{"a1", "a2", "b"}));
    ran.clear();
    press(kCmdShift1, false);  // release: no key-up actions
    EXPECT_TRUE(ran.empty());
}

TEST_F(ShortcutStore, ASharedCombinationKeepsWorkingForTheNameThatDidNotMove) {
    Name a("a"), b("b");
    setShortcut(kCmdShift1, a);
    setShortcut(kCmdShift1, b);
    int bRan = 0, aRan = 0;
    onKeyDown(a, [&] { ++aRan; });
    onKeyDown(b, [&] { ++bRan; });
    setShortcut(kCmdShift2, a);
    EXPECT_EQ(grabsOf(kCmdShift1), 1);
    press(kCmdShift1);
    press(kCmdShift2);
    EXPECT_EQ(bRan, 1);
    EXPECT_EQ(aRan, 1);
    setShortcut(std::nullopt, b);  // the last holder lets go
    EXPECT_EQ(grabsOf(kCmdShift1), 0);
}

TEST_F(ShortcutStore, ANameWithoutShortcutFiresOnceOneIsRecorded) {
    Name name("scrolling");
    int ran = 0;
    onKeyDown(name, [&] { ++ran; });
    EXPECT_EQ(sys.grabs, 0);
    setShortcut(kCmdShift2, name);
    press(kCmdShift2);
    EXPECT_EQ(ran, 1);
}

TEST_F(ShortcutStore, DisableAndEnableLetGoAndTakeBackTheCombination) {
    Name name("fullscreen", kCmdShift1);
    int ran = 0;
    onKeyDown(name, [&] { ++ran; });
    disable(name);
    EXPECT_EQ(grabsOf(kCmdShift1), 0);
    EXPECT_FALSE(isRegistered(kCmdShift1));
    enable(name);
    press(kCmdShift1);
    EXPECT_EQ(ran, 1);
}

TEST_F(ShortcutStore, PauseIsCountedAndReleasesTheGrabsMeanwhile) {
    Name name("fullscreen", kCmdShift1);
    int ran = 0;
    onKeyDown(name, [&] { ++ran; });
    pauseDispatch();
    pauseDispatch();
    EXPECT_EQ(grabsOf(kCmdShift1), 0);  // the recorder sees the keys itself
    resumeDispatch();
    EXPECT_TRUE(isPaused());
    shortcuts::handleHotKey(101, true);  // whatever fires while paused runs nothing
    EXPECT_EQ(ran, 0);
    resumeDispatch();
    EXPECT_FALSE(isPaused());
    press(kCmdShift1);
    EXPECT_EQ(ran, 1);
}

TEST_F(ShortcutStore, ARefusedCombinationIsRegisteredButNotActive) {
    sys.refused.insert(kCmdShift2);
    Name name("area", kCmdShift2);
    EXPECT_TRUE(isRegistered(kCmdShift2));
    EXPECT_FALSE(isActive(kCmdShift2));
    EXPECT_FALSE(canRegister(kCmdShift2));
    EXPECT_TRUE(canRegister(kCmdShift1));
    Name other("fullscreen", kCmdShift1);
    EXPECT_TRUE(canRegister(kCmdShift1));  // ours already
}
