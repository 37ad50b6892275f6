// Key table, modifier mapping, click counting and the Qt event translation.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <set>

#include "kit/base/Event.h"
#include "kit/ui/qt/EventPrivate.h"

using namespace kit;

TEST(KeyTable, MapsEveryKeyTheApplicationUsesByPosition) {
    // X11 keycode (evdev + 8) → key code.
    const std::pair<uint32_t, uint16_t> cases[] = {
        {38, 0},    {39, 1},   {40, 2},  {43, 4},   {52, 6},    {53, 7},    {54, 8},    {55, 9},
        {56, 11},   {24, 12},  {27, 15}, {29, 16},  {28, 17},   {32, 31},   {31, 34},   {33, 35},
        {46, 37},   {45, 40},  {10, 18}, {11, 19},  {12, 20},   {13, 21},   {14, 23},   {15, 22},
        {16, 26},   {17, 28},  {18, 25}, {19, 29},  {21, 24},   {20, 27},   {35, 30},   {34, 33},
        {36, 36},   {23, 48},  {65, 49}, {22, 51},  {9, 53},    {104, 76},  {86, 69},   {82, 78},
        {90, 82},   {87, 83},  {88, 84}, {68, 120}, {119, 117}, {113, 123}, {114, 124}, {116, 125},
        {111, 126}, {50, 56},  {62, 60}, {37, 55},  {105, 54},  {64, 58},   {108, 61},  {133, 59},
        {134, 62},  {67, 122}, {69, 99}, {70, 118}, {96, 111},  {110, 115}, {115, 119}, {112, 116},
        {117, 121}, {25, 13},  {26, 14}, {30, 32},  {41, 3},    {42, 5},    {44, 38},   {47, 41},
        {48, 39},   {49, 50},  {51, 42}, {57, 45},  {58, 46},   {59, 43},   {60, 47},   {61, 44},
    };
    for (auto [x, code] : cases) {
        auto got = keyCodeFromX11(x);
        ASSERT_TRUE(got.has_value()) << "X keycode " << x;
        EXPECT_EQ(*got, code) << "X keycode " << x;
    }
    EXPECT_FALSE(keyCodeFromX11(0).has_value());
    EXPECT_FALSE(keyCodeFromX11(255).has_value());
}

TEST(KeyTable, ReverseMappingRoundTripsAndCoversTheLetters) {
    std::set<uint16_t> seen;
    for (uint32_t x = 8; x < 256; ++x) {
        auto code = keyCodeFromX11(x);
        if (!code) continue;
        auto back = x11KeycodeFromKeyCode(*code);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(keyCodeFromX11(*back), code) << "key code " << *code;
        seen.insert(*code);
    }
    for (uint16_t letter : {KeyCode::A, KeyCode::Z, KeyCode::Q, KeyCode::M, KeyCode::L})
        EXPECT_TRUE(seen.count(letter));
    EXPECT_GE(seen.size(), 100u);
    EXPECT_EQ(x11KeycodeFromKeyCode(KeyCode::Escape), 9u);
    EXPECT_FALSE(x11KeycodeFromKeyCode(KeyCode::Function).has_value());
}

TEST(Modifiers, CtrlIsCommandAltIsOptionSuperIsControl) {
    EXPECT_EQ(qt::modifierFlagsFromQt(Qt::ControlModifier), ModifierFlag::Command);
    EXPECT_EQ(qt::modifierFlagsFromQt(Qt::AltModifier), ModifierFlag::Option);
    EXPECT_EQ(qt::modifierFlagsFromQt(Qt::MetaModifier), ModifierFlag::Control);
    EXPECT_EQ(qt::modifierFlagsFromQt(Qt::ShiftModifier | Qt::ControlModifier),
              ModifierFlag::Shift | ModifierFlag::Command);
    EXPECT_EQ(qt::qtModifiersFromFlags(ModifierFlag::Command | ModifierFlag::Control),
              Qt::ControlModifier | Qt::MetaModifier);
    EXPECT_EQ(ModifierFlag::Command, 0x100000u);
    EXPECT_EQ(ModifierFlag::Shift, 0x20000u);
    EXPECT_EQ(carbonModifiers(ModifierFlag::Command | ModifierFlag::Shift), 256u + 512u);
    EXPECT_EQ(modifierFlagsFromCarbon(2048 | 4096), ModifierFlag::Option | ModifierFlag::Control);
}

TEST(ClickCounter, CountsQuickNearbyPressesOfOneButton) {
    ClickCounter c(0.4, 5);
    EXPECT_EQ(c.press(0, {10, 10}, 1.0), 1);
    EXPECT_EQ(c.press(0, {11, 12}, 1.2), 2);
    EXPECT_EQ(c.press(0, {11, 12}, 1.5), 3);
    EXPECT_EQ(c.press(0, {11, 12}, 2.0), 1) << "too late";
    EXPECT_EQ(c.press(0, {30, 12}, 2.1), 1) << "too far";
    EXPECT_EQ(c.press(1, {30, 12}, 2.2), 1) << "other button";
    EXPECT_EQ(c.press(1, {30, 12}, 2.3), 2);
    EXPECT_EQ(c.current(1), 2) << "a release carries the count of its press";
    EXPECT_EQ(c.current(0), 1);
}

namespace {
QKeyEvent key(QEvent::Type t, int qtKey, Qt::KeyboardModifiers mods, const QString& text, quint32 scan,
              bool repeat = false) {
    return QKeyEvent(t, qtKey, mods, scan, 0, 0, text, repeat);
}
}  // namespace

TEST(KeyTranslation, CtrlCIsKeyCode8WithCommandAndTheLetter) {
    auto e = key(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier, QString(QChar(3)), 54);
    auto ev = qt::keyEvent(e);
    ASSERT_TRUE(ev);
    EXPECT_EQ(ev->type, EventType::KeyDown);
    EXPECT_EQ(ev->keyCode, KeyCode::C);
    EXPECT_TRUE(ev->has(ModifierFlag::Command));
    EXPECT_EQ(ev->characters, "c");
    EXPECT_EQ(ev->charactersIgnoringModifiers, "c");
}

TEST(KeyTranslation, PositionWinsOverTheLayoutsCharacter) {
    // An AZERTY 'a' sits where US 'q' is: the key code is Q's, the text the layout's.
    auto e = key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a", 24);
    auto ev = qt::keyEvent(e);
    ASSERT_TRUE(ev);
    EXPECT_EQ(ev->keyCode, KeyCode::Q);
    EXPECT_EQ(ev->characters, "a");
}

TEST(KeyTranslation, ShiftedAndSpecialKeys) {
    auto shifted = qt::keyEvent(key(QEvent::KeyPress, Qt::Key_Exclam, Qt::ShiftModifier, "!", 10));
    ASSERT_TRUE(shifted);
    EXPECT_EQ(shifted->keyCode, KeyCode::One);
    EXPECT_EQ(shifted->charactersIgnoringModifiers, "!");
    auto esc = qt::keyEvent(key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, QString(QChar(27)), 9));
    ASSERT_TRUE(esc);
    EXPECT_EQ(esc->keyCode, 53);
    EXPECT_EQ(esc->characters, "\x1b");
    auto up = qt::keyEvent(key(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier, "", 111));
    ASSERT_TRUE(up);
    EXPECT_EQ(up->keyCode, KeyCode::UpArrow);
    EXPECT_EQ(up->characters, "\xEF\x9C\x80");  // U+F700
    auto del = qt::keyEvent(key(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier, "\b", 22));
    ASSERT_TRUE(del);
    EXPECT_EQ(del->characters, "\x7f");
}

TEST(KeyTranslation, WithoutScanCodeFallsBackToTheUsLayout) {
    auto ev = qt::keyEvent(key(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, "", 0));
    ASSERT_TRUE(ev);
    EXPECT_EQ(ev->keyCode, KeyCode::V);
    auto digit = qt::keyEvent(key(QEvent::KeyPress, Qt::Key_1, Qt::NoModifier, "1", 0));
    ASSERT_TRUE(digit);
    EXPECT_EQ(digit->keyCode, KeyCode::One);
}

TEST(KeyTranslation, AutoRepeatKeepsPressesAndDropsReleases) {
    auto first = qt::keyEvent(key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a", 38));
    auto rep = qt::keyEvent(key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a", 38, true));
    auto repRelease = qt::keyEvent(key(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, "a", 38, true));
    auto release = qt::keyEvent(key(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, "a", 38));
    ASSERT_TRUE(first && rep && release);
    EXPECT_FALSE(first->isARepeat);
    EXPECT_TRUE(rep->isARepeat);
    EXPECT_FALSE(repRelease.has_value());
    EXPECT_EQ(release->type, EventType::KeyUp);
}

TEST(KeyTranslation, ModifierKeysGiveFlagsChangedWithTheStateAfter) {
    auto down = qt::keyEvent(key(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier, "", 50));
    ASSERT_TRUE(down);
    EXPECT_EQ(down->type, EventType::FlagsChanged);
    EXPECT_EQ(down->keyCode, KeyCode::Shift);
    EXPECT_EQ(down->modifierFlags, ModifierFlag::Shift);
    auto up = qt::keyEvent(key(QEvent::KeyRelease, Qt::Key_Shift, Qt::ShiftModifier, "", 50));
    ASSERT_TRUE(up);
    EXPECT_EQ(up->modifierFlags, 0u);
    auto ctrl = qt::keyEvent(key(QEvent::KeyPress, Qt::Key_Control, Qt::ShiftModifier, "", 37));
    ASSERT_TRUE(ctrl);
    EXPECT_EQ(ctrl->modifierFlags, ModifierFlag::Shift | ModifierFlag::Command);
}

TEST(MouseTranslation, ButtonsMapToTheirFamilies) {
    QPointF p(5, 5);
    QMouseEvent right(QEvent::MouseButtonPress, p, p, Qt::RightButton, Qt::RightButton, Qt::AltModifier);
    Event r = qt::mouseEvent(right, {5, 95});
    EXPECT_EQ(r.type, EventType::RightMouseDown);
    EXPECT_EQ(r.buttonNumber, 1);
    EXPECT_TRUE(r.has(ModifierFlag::Option));
    EXPECT_EQ(r.locationInWindow, (Point{5, 95}));
    QMouseEvent middleDrag(QEvent::MouseMove, p, p, Qt::NoButton, Qt::MiddleButton, Qt::NoModifier);
    Event m = qt::mouseEvent(middleDrag, {});
    EXPECT_EQ(m.type, EventType::OtherMouseDragged);
    EXPECT_EQ(m.buttonNumber, 2);
    QMouseEvent back(QEvent::MouseButtonRelease, p, p, Qt::BackButton, Qt::NoButton, Qt::NoModifier);
    Event b = qt::mouseEvent(back, {});
    EXPECT_EQ(b.type, EventType::OtherMouseUp);
    EXPECT_EQ(b.buttonNumber, 3);
    QMouseEvent extra(QEvent::MouseButtonPress, p, p, Qt::ExtraButton3, Qt::ExtraButton3, Qt::NoModifier);
    EXPECT_EQ(qt::mouseEvent(extra, {}).buttonNumber, 5) << "extra button N is number N + 2";
    QMouseEvent extra5(QEvent::MouseButtonPress, p, p, Qt::ExtraButton5, Qt::ExtraButton5, Qt::NoModifier);
    EXPECT_EQ(qt::mouseEvent(extra5, {}).buttonNumber, 7);
    QMouseEvent move(QEvent::MouseMove, p, p, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    EXPECT_EQ(qt::mouseEvent(move, {}).type, EventType::MouseMoved);
}

TEST(ScrollTranslation, WheelClicksAreLinesAndTouchpadsArePrecise) {
    QPointF p(1, 1);
    QWheelEvent wheel(p, p, QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    Event w = qt::scrollEvent(wheel, {});
    EXPECT_FALSE(w.hasPreciseScrollingDeltas);
    EXPECT_DOUBLE_EQ(w.scrollingDeltaY, 2.0);
    QWheelEvent pad(p, p, QPoint(0, -14), QPoint(0, -28), Qt::NoButton, Qt::NoModifier, Qt::ScrollUpdate,
                    false);
    Event t = qt::scrollEvent(pad, {});
    EXPECT_TRUE(t.hasPreciseScrollingDeltas);
    EXPECT_DOUBLE_EQ(t.scrollingDeltaY, -14);
    EXPECT_EQ(t.phase, EventPhase::Changed);
}
