// Menus, menu items, the tray icon and cursors on the offscreen platform.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>

#include "kit/Cursor.h"
#include "kit/Menu.h"
#include "kit/StatusItem.h"
#include "kit/View.h"
#include "kit/qt/MenuPrivate.h"

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
