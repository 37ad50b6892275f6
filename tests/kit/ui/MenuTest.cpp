// Menus, menu items, the tray icon and cursors on the offscreen platform.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QWindow>

#include "kit/ui/Application.h"
#include "kit/ui/Cursor.h"
#include "kit/ui/Menu.h"
#include "kit/ui/StatusItem.h"
#include "kit/ui/TextField.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"
#include "kit/ui/qt/MenuPrivate.h"
#include "kit/ui/qt/WindowPrivate.h"

using namespace kit;

TEST(Menu, KeyEquivalentsAreShownInLinuxWords) {
    MenuItem quit("Quit", {}, "q");
    EXPECT_EQ(quit.keyEquivalentText(), "Ctrl+Q");
    MenuItem grab("Capture Area", {}, "1");
    grab.setKeyEquivalent("1", ModifierFlag::Command | ModifierFlag::Shift);
    EXPECT_EQ(grab.keyEquivalentText(), "Ctrl+Shift+1");
    MenuItem upper("Save As", {}, "S");
    EXPECT_EQ(upper.keyEquivalentText(), "Ctrl+Shift+S") << "an upper-case letter implies Shift";
    MenuItem all("Everything", {}, "a");
    all.setKeyEquivalent("a", ModifierFlag::Command | ModifierFlag::Option | ModifierFlag::Control);
    EXPECT_EQ(all.keyEquivalentText(), "Ctrl+Alt+Super+A");
    MenuItem esc("Cancel", {}, "\x1b");
    esc.setKeyEquivalent("\x1b", 0);
    EXPECT_EQ(esc.keyEquivalentText(), "Esc");
    MenuItem none("Plain");
    EXPECT_EQ(none.keyEquivalentText(), "");
    // The menu shows the title and the keys in the shortcut column.
    EXPECT_EQ(qt::qaction(grab)->text(), "Capture Area\tCtrl+Shift+1");
    MenuItem amp("Save & Copy");
    EXPECT_EQ(qt::qaction(amp)->text(), "Save && Copy") << "no mnemonic";
}

TEST(Menu, ItemsRunActionsAndKeepTheirState) {
    auto menu = std::make_shared<Menu>("Main");
    int runs = 0;
    MenuItem* seen = nullptr;
    auto& item = menu->addItem("Copy", [&](MenuItem& i) {
        ++runs;
        seen = &i;
    });
    item.setTag(7);
    item.representedObject = std::string("payload");
    menu->addSeparator();
    auto hidden = MenuItem::make("Secret");
    hidden->setHidden(true);
    menu->addItem(hidden);
    ASSERT_EQ(menu->items().size(), 3u);
    EXPECT_TRUE(menu->items()[1]->isSeparator());
    EXPECT_FALSE(qt::qaction(*hidden)->isVisible());

    qt::qaction(item)->trigger();  // the user picks it
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(seen, &item);
    ASSERT_TRUE(menu->itemWithTag(7));
    EXPECT_EQ(std::any_cast<std::string>(menu->itemWithTag(7)->representedObject), "payload");
    item.setEnabled(false);
    item.performAction();
    EXPECT_EQ(runs, 1) << "disabled items do nothing";

    item.setState(ControlState::On);
    EXPECT_TRUE(qt::qaction(item)->isChecked());
    item.setState(ControlState::Off);
    EXPECT_FALSE(qt::qaction(item)->isChecked());

    auto sub = std::make_shared<Menu>("More");
    sub->addItem("Deeper");
    auto parent = MenuItem::make("More");
    parent->setSubmenu(sub);
    menu->insertItem(parent, 0);
    EXPECT_EQ(menu->items().front(), parent);
    EXPECT_EQ(qt::qaction(*parent)->menu(), qt::qmenu(*sub));
    EXPECT_EQ(qt::qmenu(*menu)->actions().front(), qt::qaction(*parent)) << "Qt order follows the kit order";
    menu->removeItem(*hidden);
    EXPECT_EQ(menu->items().size(), 3u);
    EXPECT_EQ(hidden->menu(), nullptr);
    EXPECT_EQ(menu->itemWithTitle("Deeper"), nullptr);
    EXPECT_NE(sub->itemWithTitle("Deeper"), nullptr);
}

TEST(Menu, ValidationRunsBeforeOpeningAndAnActionMayRebuildTheMenu) {
    auto menu = std::make_shared<Menu>();
    int opened = 0;
    menu->onWillOpen = [&](Menu& m) {
        ++opened;
        m.removeAllItems();
        m.addItem("Fresh", [&m](MenuItem&) { m.removeAllItems(); });  // drops itself
    };
    auto view = View::make({0, 0, 100, 100});
    menu->popUp(*view, {10, 10});
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(menu->isOpen());
    ASSERT_EQ(menu->items().size(), 1u);
    qt::qaction(*menu->items()[0])->trigger();
    EXPECT_TRUE(menu->items().empty());
    menu->close();
    EXPECT_FALSE(menu->isOpen());
}

TEST(StatusItem, ThePanelsDarknessIsReadFromTheIconsCorners) {
    Image area(22, 22);
    area.fill(Color::white(0.85));
    // A dark glyph in the middle does not make a light panel dark.
    for (int y = 6; y < 16; ++y)
        for (int x = 6; x < 16; ++x) area.setPixel(x, y, PixelBGRA{20, 20, 20, 255});
    EXPECT_EQ(cornersAreDark(area), std::optional<bool>(false));
    area.fill(Color::rgb(0x30, 0x30, 0x30));
    EXPECT_EQ(cornersAreDark(area), std::optional<bool>(true));
    // Corners off every screen (transparent) tell nothing.
    Image clear(22, 22);
    clear.fill(Color::clear());
    EXPECT_EQ(cornersAreDark(clear), std::nullopt);
    EXPECT_EQ(cornersAreDark(Image()), std::nullopt);
}

TEST(StatusItem, AClickOpensTheMenuOrRunsTheAction) {
    StatusItem item;
    Image icon(16, 16);
    icon.fill(Color::white(1));
    item.setImage(icon);
    int clicks = 0;
    bool right = true;
    item.onClick = [&](bool r) {
        ++clicks;
        right = r;
    };
    item.performClick();
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(right);
    auto menu = std::make_shared<Menu>();
    menu->addItem("Quit");
    item.setMenu(menu);
    item.performClick();
    EXPECT_EQ(clicks, 1) << "with a menu the click opens it";
    EXPECT_TRUE(menu->isOpen());
    menu->close();
    EXPECT_FALSE(item.buttonFrame().isEmpty());
}

TEST(Cursor, NamesAndCustomCursors) {
    EXPECT_EQ(Cursor::named("crosshair").shape(), Cursor::Shape::Crosshair);
    EXPECT_EQ(Cursor::named("resizeNWSE").shape(), Cursor::Shape::ResizeDiagonalNWSE);
    EXPECT_EQ(Cursor::named("no such cursor").shape(), Cursor::Shape::Arrow);
    Cursor pen = Cursor::named("pen");
    EXPECT_EQ(pen.shape(), Cursor::Shape::Custom);
    ASSERT_FALSE(pen.image().isNull());
    EXPECT_EQ(pen.image().scale(), 2);
    // The nib is the hot spot: it is drawn, and the far corner is empty.
    Point hot = pen.hotSpot();
    EXPECT_GT(pen.image().pixel(int(hot.x * 2) + 2, int(hot.y * 2) - 2).a, 0);
    EXPECT_EQ(pen.image().pixel(pen.image().width() - 1, pen.image().height() - 1).a, 0);
    EXPECT_FALSE(Cursor::zoom(true) == Cursor::zoom(false));
    Cursor::hide();
    Cursor::hide();
    Cursor::unhide();
    EXPECT_TRUE(Cursor::isHidden());
    Cursor::unhide();
    EXPECT_FALSE(Cursor::isHidden());
    Cursor::unhide();  // unbalanced: no harm
    EXPECT_FALSE(Cursor::isHidden());
}

namespace {
Event keyDown(uint16_t code, const std::string& chars, uint32_t flags) {
    Event e;
    e.type = EventType::KeyDown;
    e.keyCode = code;
    e.characters = e.charactersIgnoringModifiers = chars;
    e.modifierFlags = flags;
    return e;
}
}  // namespace

TEST(Menu, KeyEquivalentsMatchExactModifiersAndKeyPlaces) {
    MenuItem save("Save", {}, "s");
    EXPECT_TRUE(save.matchesKeyEquivalent(keyDown(KeyCode::S, "s", ModifierFlag::Command)));
    EXPECT_FALSE(
        save.matchesKeyEquivalent(keyDown(KeyCode::S, "s", ModifierFlag::Command | ModifierFlag::Shift)))
        << "an extra modifier means another shortcut";
    EXPECT_FALSE(save.matchesKeyEquivalent(keyDown(KeyCode::S, "s", 0)));
    MenuItem saveAs("Save As", {}, "S");
    EXPECT_TRUE(
        saveAs.matchesKeyEquivalent(keyDown(KeyCode::S, "S", ModifierFlag::Command | ModifierFlag::Shift)));
    MenuItem area("Area", {}, "1");
    area.setKeyEquivalent("1", ModifierFlag::Command | ModifierFlag::Shift);
    EXPECT_TRUE(
        area.matchesKeyEquivalent(keyDown(KeyCode::One, "!", ModifierFlag::Command | ModifierFlag::Shift)))
        << "Shift+1 types '!', the key's place still matches";
    Event up = keyDown(KeyCode::S, "s", ModifierFlag::Command);
    up.type = EventType::KeyUp;
    EXPECT_FALSE(save.matchesKeyEquivalent(up));
}

TEST(Menu, MainMenuKeyEquivalentsRunBeforeViewsButNotOverTextEditing) {
    auto main = std::make_shared<Menu>();
    auto file = std::make_shared<Menu>("File");
    int saves = 0, copies = 0;
    bool byKey = false;
    file->addItem(
        "Save",
        [&](MenuItem&) {
            ++saves;
            byKey = MenuItem::isPerformingKeyEquivalent();
        },
        "s");
    auto& copy = file->addItem(
        "Copy", [&](MenuItem&) { ++copies; }, "c");
    int validations = 0;
    file->onWillOpen = [&](Menu&) { ++validations; };
    auto fileItem = MenuItem::make("File");
    fileItem->setSubmenu(file);
    main->addItem(fileItem);
    Application::shared().setMainMenu(main);

    Window win({0, 0, 300, 200}, WindowStyle::Titled);
    win.setMenuBar(main);
    EXPECT_LT(win.contentSize().height, 200) << "the bar takes room at the top";
    EXPECT_EQ(win.contentView()->frame().size, win.contentSize());
    win.makeKeyAndOrderFront();
    QApplication::processEvents();
    QWindow* handle = qt::windowWidget(win)->windowHandle();
    ASSERT_NE(handle, nullptr);
    QKeyEvent ctrlS(QEvent::KeyPress, Qt::Key_S, Qt::ControlModifier, 39, 0, 0, QString(QChar(19)));
    QApplication::sendEvent(handle, &ctrlS);
    EXPECT_EQ(saves, 1);
    EXPECT_TRUE(byKey);
    EXPECT_GE(validations, 1) << "items are validated first";
    EXPECT_FALSE(MenuItem::isPerformingKeyEquivalent());
    copy.setEnabled(false);
    QKeyEvent ctrlC(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier, 54, 0, 0, QString(QChar(3)));
    QApplication::sendEvent(handle, &ctrlC);
    EXPECT_EQ(copies, 0) << "disabled";
    copy.setEnabled(true);

    // A focused text field keeps Ctrl+C for itself.
    auto field = std::make_shared<TextField>(Rect{10, 10, 100, 24});
    win.contentView()->addSubview(field);
    field->makeFirstResponder();
    QApplication::processEvents();
    QApplication::sendEvent(handle, &ctrlC);
    EXPECT_EQ(copies, 0);
    QApplication::sendEvent(handle, &ctrlS);
    EXPECT_EQ(saves, 2) << "other key equivalents still work";
    Application::shared().setMainMenu(nullptr);
    win.orderOut();
}

TEST(Menu, AWindowsMenuBarFollowsItsMenu) {
    auto main = std::make_shared<Menu>();
    auto fileItem = MenuItem::make("File");
    fileItem->setSubmenu(std::make_shared<Menu>("File"));
    main->addItem(fileItem);
    Window win({0, 0, 300, 200}, WindowStyle::Titled);
    win.setMenuBar(main);
    auto* bar = qt::windowWidget(win)->findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    auto titles = [bar] {
        std::vector<std::string> out;
        for (QAction* a : bar->actions())
            if (a->isVisible()) out.push_back(a->text().toStdString());
        return out;
    };
    EXPECT_EQ(titles(), std::vector<std::string>{"File"});

    // Menus added after the bar was set still appear, in their order.
    auto editItem = MenuItem::make("Edit");
    int pasted = 0;
    auto edit = std::make_shared<Menu>("Edit");
    edit->addItem("Paste", [&](MenuItem&) { ++pasted; });
    editItem->setSubmenu(edit);
    main->addSeparator();
    main->addItem(editItem);
    EXPECT_EQ(titles(), (std::vector<std::string>{"File", "Edit"}));
    ASSERT_EQ(bar->actions().size(), 2u) << "separators stay out of the bar";
    bar->actions()[1]->menu()->actions()[0]->trigger();
    EXPECT_EQ(pasted, 1);

    editItem->setHidden(true);
    EXPECT_EQ(titles(), std::vector<std::string>{"File"});
    editItem->setHidden(false);
    main->removeItem(*fileItem);
    EXPECT_EQ(titles(), std::vector<std::string>{"Edit"});
}

TEST(Menu, AnOpenMenuTakesItsKeyEquivalentsEvenFromASubmenu) {
    auto menu = std::make_shared<Menu>();
    int captures = 0;
    menu->addItem(
        "Capture", [&](MenuItem&) { ++captures; }, "q");
    auto more = std::make_shared<Menu>("more");
    more->addItem("Other", {});
    auto holder = MenuItem::make("more");
    holder->setSubmenu(more);
    menu->addItem(holder);
    auto view = View::make({0, 0, 100, 100});

    menu->popUp(*view, {10, 10});
    ASSERT_TRUE(menu->isOpen());
    QKeyEvent ctrlX(QEvent::KeyPress, Qt::Key_X, Qt::ControlModifier, 53, 0, 0, QString(QChar(24)));
    QApplication::sendEvent(qt::qmenu(*menu), &ctrlX);
    EXPECT_TRUE(menu->isOpen()) << "a key no item has leaves the menu open";
    EXPECT_EQ(captures, 0);

    // From the submenu: the outermost menu's item runs and both close.
    more->popUp(*view, {20, 20});
    QKeyEvent ctrlQ(QEvent::KeyPress, Qt::Key_Q, Qt::ControlModifier, 24, 0, 0, QString(QChar(17)));
    QApplication::sendEvent(qt::qmenu(*more), &ctrlQ);
    EXPECT_EQ(captures, 1);
    EXPECT_FALSE(menu->isOpen());
    EXPECT_FALSE(more->isOpen());
}
