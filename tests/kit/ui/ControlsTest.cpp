// Standard controls driven through their widgets as a user would, on the
// offscreen platform; plus a picture of a window with every control.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QTabBar>
#include <QTextEdit>
#include <cstdio>
#include <cstdlib>

#include "kit/base/qt/QtImage.h"
#include "kit/draw/ShapeLayer.h"
#include "kit/ui/Box.h"
#include "kit/ui/Button.h"
#include "kit/ui/ColorPanel.h"
#include "kit/ui/ImageView.h"
#include "kit/ui/Label.h"
#include "kit/ui/PopUpButton.h"
#include "kit/ui/ProgressIndicator.h"
#include "kit/ui/ScrollView.h"
#include "kit/ui/SegmentedControl.h"
#include "kit/ui/Slider.h"
#include "kit/ui/StackView.h"
#include "kit/ui/TabView.h"
#include "kit/ui/TextField.h"
#include "kit/ui/TextView.h"
#include "kit/ui/Window.h"
#include "kit/ui/qt/ControlPrivate.h"
#include "kit/ui/qt/ViewPrivate.h"

using namespace kit;

namespace {

void type(QWidget* w, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &press);
    }
}

void pressKey(QWidget* w, int key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
}

}  // namespace

TEST(Controls, ButtonsRunTheirActionAndRadiosExcludeEachOther) {
    int clicks = 0;
    auto push = Button::make("Save & Close", [&](Control&) { ++clicks; });
    EXPECT_EQ(push->title(), "Save & Close");
    push->performClick();
    EXPECT_EQ(clicks, 1);
    push->setEnabled(false);
    push->performClick();
    EXPECT_EQ(clicks, 1) << "a disabled button does nothing";
    EXPECT_GT(push->frame().width(), 40) << "sized to its title";

    auto toggle = Button::make("Pin", {}, Button::Type::PushOnPushOff);
    toggle->performClick();
    EXPECT_EQ(toggle->state(), ControlState::On);
    toggle->performClick();
    EXPECT_EQ(toggle->state(), ControlState::Off);

    auto group = View::make({0, 0, 200, 100});
    auto a = Button::make("A", {}, Button::Type::Radio), b = Button::make("B", {}, Button::Type::Radio);
    group->addSubview(a);
    group->addSubview(b);
    a->performClick();
    b->performClick();
    EXPECT_EQ(a->state(), ControlState::Off);
    EXPECT_EQ(b->state(), ControlState::On);
}

TEST(Controls, PopUpButtonRunsTheActionOnlyForTheUsersChoice) {
    PopUpButton p;
    int actions = 0;
    p.setAction([&](Control&) { ++actions; });
    p.addItems({"PNG", "JPEG"});
    EXPECT_TRUE(p.selectItem("JPEG"));
    EXPECT_FALSE(p.selectItem("GIF"));
    EXPECT_EQ(p.indexOfSelectedItem(), 1);
    EXPECT_EQ(actions, 0);
    auto* combo = qt::hosted<QComboBox>(p);
    combo->setCurrentIndex(0);
    emit combo->activated(0);
    EXPECT_EQ(actions, 1);
    EXPECT_EQ(p.titleOfSelectedItem(), "PNG");
}

TEST(Controls, TextFieldsReportEditsAndNumberEntryTakesOnlyNumbers) {
    TextField f;
    int changes = 0, ends = 0;
    f.onTextChange = [&](TextField&) { ++changes; };
    f.setAction([&](Control&) { ++ends; });
    f.setIntegerEntry(1, 2000);
    auto* edit = qt::hosted<QLineEdit>(f);
    type(edit, "12a3");
    EXPECT_EQ(f.stringValue(), "123");
    EXPECT_EQ(f.integerValue(), 123);
    EXPECT_EQ(changes, 3);
    type(edit, "45");
    EXPECT_EQ(f.stringValue(), "1234") << "past the maximum";
    pressKey(edit, Qt::Key_Return, "\r");
    EXPECT_EQ(ends, 1);
    f.setStringValue("");
    EXPECT_FALSE(f.integerValue().has_value());

    SearchField s;
    s.setStringValue("term");
    EXPECT_EQ(s.stringValue(), "term");
    EXPECT_TRUE(qt::hosted<QLineEdit>(s)->isClearButtonEnabled());
}

// A cell that puts the text at the top of the field and records each draw.
struct TopCell : TextFieldCell {
    mutable std::vector<bool> draws;
    void drawWithFrame(ShapeLayer&, const Rect&, bool editing, bool) const override {
        draws.push_back(editing);
    }
    Rect titleRect(const Rect& base, double textHeight) const override {
        return {base.x(), 2, base.width(), textHeight};
    }
};

TEST(Controls, ATextFieldCellDrawsTheBackgroundAndPlacesTheText) {
    TextField f(Rect{0, 0, 120, 40});
    f.setTextColor(Color::rgb(200, 30, 30));
    auto* edit = qt::hosted<QLineEdit>(f);
    auto cell = std::make_shared<TopCell>();
    f.setCell(cell);
    EXPECT_FALSE(edit->hasFrame()) << "the cell draws the background";
    EXPECT_EQ(cell->draws, std::vector<bool>{false});
    EXPECT_EQ(f.textRect().y(), 2);
    f.setFrameSize({120, 60});
    EXPECT_EQ(cell->draws.size(), 2u) << "a new size is drawn again";
    EXPECT_EQ(f.textRect().y(), 2);

    // Without the cell the field has its own look back, text colour and all.
    f.setCell(nullptr);
    EXPECT_TRUE(edit->hasFrame());
    EXPECT_GT(f.textRect().y(), 10) << "centred again";
    EXPECT_EQ(edit->palette().color(QPalette::Text), QColor(200, 30, 30));
    EXPECT_NE(edit->palette().color(QPalette::Base).alpha(), 0);
}

TEST(Controls, SliderMapsDoublesClampsAndSnapsToTicks) {
    Slider s;
    int actions = 0;
    s.setAction([&](Control&) { ++actions; });
    s.setRange(1, 5);
    s.setDoubleValue(3.3);
    EXPECT_NEAR(s.doubleValue(), 3.3, 1e-3);
    EXPECT_EQ(actions, 0) << "values set in code send nothing";
    s.setDoubleValue(99);
    EXPECT_DOUBLE_EQ(s.doubleValue(), 5);
    s.setNumberOfTickMarks(5);
    s.setAllowsTickMarkValuesOnly(true);
    qt::hosted<QAbstractSlider>(s)->setValue(5900);  // the user drags to 3.36
    EXPECT_NEAR(s.doubleValue(), 3.0, 1e-9);
    EXPECT_GE(actions, 1);
}

TEST(Controls, SegmentsHaveLabelsTooltipsAndOneSelection) {
    SegmentedControl seg;
    seg.setSegmentCount(3);
    seg.setLabel("S", 0);
    seg.setLabel("M", 1);
    seg.setLabel("L", 2);
    seg.setToolTip("Large", 2);
    int actions = 0;
    seg.setAction([&](Control&) { ++actions; });
    seg.performClick(2);
    EXPECT_EQ(seg.selectedSegment(), 2);
    seg.performClick(0);
    EXPECT_EQ(seg.selectedSegment(), 0);
    EXPECT_EQ(actions, 2);
    EXPECT_EQ(seg.toolTip(2), "Large");
    EXPECT_EQ(seg.label(1), "M");
    seg.setSegmentCount(1);
    EXPECT_EQ(seg.selectedSegment(), 0);
    SegmentedControl momentary({}, SegmentedControl::Tracking::Momentary);
    momentary.setSegmentCount(2);
    momentary.performClick(1);
    EXPECT_EQ(momentary.selectedSegment(), -1);
    EXPECT_EQ(momentary.clickedSegment(), 1);
}

TEST(Controls, TheColorPanelReportsChangesContinuously) {
    ColorWell well;
    std::vector<Color> seen;
    well.setAction([&](Control& c) { seen.push_back(static_cast<ColorWell&>(c).color()); });
    well.setColor(Color::rgb(255, 0, 0));
    well.activate();
    ASSERT_TRUE(ColorPanel::shared().isVisible());
    QColorDialog* dlg = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QColorDialog*>(w)) dlg = d;
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->currentColor(), QColor(255, 0, 0));
    dlg->setCurrentColor(QColor(0, 0, 255));  // the user picks
    dlg->setCurrentColor(QColor(0, 255, 0));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(well.color().green8(), 255);
    ColorPanel::shared().close();
    EXPECT_FALSE(ColorPanel::shared().isVisible());
}

TEST(Controls, TextViewEditsSizeToContentAndUndoCanBeOff) {
    auto root = View::make({0, 0, 400, 300});
    auto tv = std::make_shared<TextView>(Rect{20, 200, 10, 20});
    root->addSubview(tv);
    tv->setFont(Font::system(20));
    tv->setTextContainerInset({4, 2});
    tv->setSizesToContent(true);
    std::string last;
    tv->onTextChange = [&](TextView& v) { last = v.string(); };
    auto* edit = qt::hosted<QTextEdit>(*tv);
    type(edit, "Hi");
    EXPECT_EQ(last, "Hi");
    double narrow = tv->frame().width();
    double top = tv->frame().maxY();
    type(edit, " there, wider");
    EXPECT_GT(tv->frame().width(), narrow);
    EXPECT_DOUBLE_EQ(tv->frame().maxY(), top) << "grows down from its top edge";
    double oneLine = tv->frame().height();
    pressKey(edit, Qt::Key_Return, "\r");
    type(edit, "x");
    EXPECT_EQ(tv->string(), "Hi there, wider\nx");
    EXPECT_GT(tv->frame().height(), oneLine * 1.6);
    tv->setContainerWidth(60);
    EXPECT_NEAR(tv->frame().width(), 60 + 2 + 8, 1) << "wraps at the container width";
    bool escaped = false;
    tv->onKeyDown = [&](const Event& e) { return escaped = e.keyCode == KeyCode::Escape; };
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, 9, 0, 0, QString(QChar(27)));
    QApplication::sendEvent(edit, &esc);
    EXPECT_TRUE(escaped);
    tv->setAllowsUndo(false);
    EXPECT_FALSE(tv->allowsUndo());
    EXPECT_FALSE(edit->document()->isUndoAvailable());
    tv->setSelectedRange(3, 5);
    EXPECT_EQ(tv->selectedRange(), (std::pair<size_t, size_t>{3, 5}));
}

TEST(Controls, TextViewTakesEachNewFont) {
    auto root = View::make({0, 0, 400, 300});
    auto tv = std::make_shared<TextView>(Rect{20, 200, 10, 20});
    root->addSubview(tv);
    tv->setSizesToContent(true);
    tv->setString("Hello");
    tv->setFont(Font::system(13));  // the font it starts with: nothing to do
    const double small = tv->frame().width();
    EXPECT_GT(small, 10);
    tv->setFont(Font::system(26));
    const double large = tv->frame().width();
    EXPECT_GT(large, small * 1.5);
    tv->setFont(Font::system(26));
    EXPECT_DOUBLE_EQ(tv->frame().width(), large);
    tv->setFont(Font::system(13));
    EXPECT_DOUBLE_EQ(tv->frame().width(), small);
}

TEST(Controls, StackAndScrollViewsPlaceTheirContent) {
    StackView row({0, 0, 300, 40});
    auto a = View::make({0, 0, 50, 20}), b = View::make({0, 0, 30, 40}), hidden = View::make({0, 0, 99, 9});
    hidden->setHidden(true);
    row.setSpacing(10);
    row.setEdgeInsets(0, 5, 0, 0);
    row.addArrangedSubview(a);
    row.addArrangedSubview(hidden);
    row.addArrangedSubview(b);
    EXPECT_EQ(a->frame(), Rect(5, 10, 50, 20));
    EXPECT_EQ(b->frame(), Rect(65, 0, 30, 40));
    EXPECT_EQ(row.fittingSize(), (Size{95, 40}));
    hidden->setHidden(false);  // the stack opens a gap for it at once
    EXPECT_EQ(hidden->frame().origin, (Point{65, 15.5}));
    EXPECT_EQ(b->frame().origin, (Point{174, 0}));
    hidden->setHidden(true);
    EXPECT_EQ(b->frame(), Rect(65, 0, 30, 40));
    StackView column({0, 0, 100, 100}, StackView::Orientation::Vertical);
    auto c = View::make({0, 0, 20, 30});
    column.addArrangedSubview(c);
    EXPECT_EQ(c->frame(), Rect(40, 70, 20, 30)) << "columns start at the top";

    Window win({0, 0, 100, 100}, WindowStyle::Borderless);
    auto scroll = std::make_shared<ScrollView>(Rect{0, 0, 100, 100});
    win.contentView()->addSubview(scroll);
    auto doc = View::make({0, 0, 80, 1000});
    scroll->setDocumentView(doc);
    scroll->setHasHorizontalScroller(false);
    win.orderFront();
    QApplication::processEvents();
    scroll->scrollToPoint({0, 500});
    Rect vis = scroll->documentVisibleRect();
    EXPECT_EQ(vis.y(), 500);
    EXPECT_EQ(vis.height(), 100);
}

TEST(Controls, AWindowWithEveryControl) {
    Window win({100, 100, 460, 420}, WindowStyle::Titled);
    win.setTitle("Controls");
    auto column = std::make_shared<StackView>(Rect{0, 0, 460, 420}, StackView::Orientation::Vertical);
    column->setEdgeInsets(12, 12, 12, 12);
    column->setAlignment(StackView::Alignment::Leading);
    win.contentView()->addSubview(column);
    auto buttons = std::make_shared<StackView>(Rect{0, 0, 436, 32});
    buttons->setAlignment(StackView::Alignment::Center);
    buttons->addArrangedSubview(Button::make("Button"));
    auto check = Button::make("Checkbox", {}, Button::Type::Checkbox);
    check->setState(ControlState::On);
    buttons->addArrangedSubview(check);
    buttons->addArrangedSubview(Button::make("Radio", {}, Button::Type::Radio));
    auto popup = std::make_shared<PopUpButton>();
    popup->addItems({"PNG", "JPEG"});
    popup->sizeToFit();
    buttons->addArrangedSubview(popup);
    column->addArrangedSubview(buttons);
    auto field = std::make_shared<TextField>(Rect{0, 0, 200, 26});
    field->setPlaceholder("Text field");
    column->addArrangedSubview(field);
    auto search = std::make_shared<SearchField>(Rect{0, 0, 200, 26});
    column->addArrangedSubview(search);
    column->addArrangedSubview(Label::make("A label"));
    auto slider = std::make_shared<Slider>(Rect{0, 0, 200, 24});
    slider->setDoubleValue(0.3);
    column->addArrangedSubview(slider);
    auto seg = std::make_shared<SegmentedControl>(Rect{0, 0, 180, 26});
    seg->setSegmentCount(3);
    for (int i = 0; i < 3; ++i) seg->setLabel(std::string(1, char('A' + i)), i);
    seg->setSelectedSegment(1);
    column->addArrangedSubview(seg);
    auto lower = std::make_shared<StackView>(Rect{0, 0, 436, 70});
    auto well = std::make_shared<ColorWell>(Rect{0, 0, 40, 24});
    well->setColor(Color::rgb(230, 80, 20));
    lower->addArrangedSubview(well);
    auto box = std::make_shared<Box>(Rect{0, 0, 60, 60});
    box->setFillColor(Color::rgb(40, 120, 220));
    box->setCornerRadius(8);
    lower->addArrangedSubview(box);
    Image img(20, 20);
    img.fill(Color::rgb(20, 180, 60));
    auto iv = std::make_shared<ImageView>(Rect{0, 0, 60, 60});
    iv->setImage(img);
    lower->addArrangedSubview(iv);
    auto tv = std::make_shared<TextView>(Rect{0, 0, 200, 60});
    tv->setBackgroundColor(Color::white(1));
    tv->setString("A text view\nwith two lines");
    lower->addArrangedSubview(tv);
    column->addArrangedSubview(lower);
    auto lowest = std::make_shared<StackView>(Rect{0, 0, 436, 80});
    auto tabs = std::make_shared<TabView>(Rect{0, 0, 220, 80});
    auto pane = View::make();
    pane->layer()->setBackgroundColor(Color::white(0.98));
    tabs->addTabViewItem("General", pane);
    tabs->addTabViewItem("Advanced", View::make());
    lowest->addArrangedSubview(tabs);
    auto progress = std::make_shared<ProgressIndicator>(Rect{0, 0, 120, 16});
    progress->setDoubleValue(60);
    lowest->addArrangedSubview(progress);
    auto spinner =
        std::make_shared<ProgressIndicator>(Rect{0, 0, 24, 24}, ProgressIndicator::Style::Spinning);
    spinner->startAnimation();
    lowest->addArrangedSubview(spinner);
    column->addArrangedSubview(lowest);
    win.orderFront();
    QApplication::processEvents();

    Image shot = win.contentView()->snapshot(1);
    ASSERT_EQ(shot.width(), 460);
    // The box and the image view painted their colours.
    Point boxCentre = box->convert(Point{30, 30}, nullptr);
    Color c = shot.colorAt(int(boxCentre.x), int(420 - boxCentre.y));
    EXPECT_EQ(c.blue8(), 220);
    Point imgCentre = iv->convert(Point{30, 30}, nullptr);
    EXPECT_EQ(shot.colorAt(int(imgCentre.x), int(420 - imgCentre.y)).green8(), 180);
    // Pictures for a person to look at, at 1× and 2×.
    const char* dir = std::getenv("KADRIX_SCREENSHOT_DIR");
    QDir folder(dir ? dir : std::getenv("KADRIX_HOME"));
    Image shot2 = win.contentView()->snapshot(2);
    EXPECT_EQ(shot2.width(), 920);
    for (auto [image, name] :
         {std::pair{&shot, "kit-controls.png"}, std::pair{&shot2, "kit-controls@2x.png"}}) {
        QString out = folder.filePath(name);
        EXPECT_TRUE(qt::wrap(*image).save(out));
        RecordProperty(name, out.toStdString());
        std::printf("controls picture: %s\n", qPrintable(out));
    }
    win.orderOut();
}

TEST(Controls, TextImagesLeaveTheInsertionPointOut) {
    Window win({0, 0, 200, 100}, WindowStyle::Titled);
    auto tv = std::make_shared<TextView>(Rect{10, 10, 150, 40});
    tv->setFont(Font::system(24));
    tv->setTextColor(Color::black());
    tv->setInsertionPointColor(Color::rgb(255, 0, 0));
    tv->setString("Hi");
    win.contentView()->addSubview(tv);
    win.makeKeyAndOrderFront();
    ASSERT_TRUE(win.makeFirstResponder(tv.get()));
    QApplication::processEvents();
    auto count = [](const Image& img, auto pred) {
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) n += pred(img.colorAt(x, y));
        return n;
    };
    auto red = [](Color c) { return c.alpha8() > 200 && c.red8() > 200 && c.green8() < 60; };
    auto ink = [](Color c) { return c.alpha8() > 200 && c.red8() < 80 && c.green8() < 80; };
    Image live = tv->snapshot(2);
    Image text = tv->textImage(2);
    EXPECT_EQ(text.width(), 300);
    EXPECT_GT(count(live, red), 0) << "the focused view shows its red insertion point";
    EXPECT_EQ(count(text, red), 0);
    EXPECT_GT(count(text, ink), 20) << "the letters are there";
    win.orderOut();
}

TEST(Controls, TabsShowOnePaneAtATimeAndFindPanesByLabel) {
    Window win({0, 0, 300, 200}, WindowStyle::Titled);
    auto tabs = std::make_shared<TabView>(Rect{0, 0, 300, 200});
    win.contentView()->addSubview(tabs);
    auto general = View::make(), shortcuts = View::make(), advanced = View::make();
    tabs->addTabViewItem("General", general);
    tabs->addTabViewItem("Shortcuts", shortcuts);
    tabs->addTabViewItem("Advanced", advanced);
    EXPECT_EQ(tabs->numberOfTabViewItems(), 3);
    EXPECT_EQ(tabs->indexOfSelectedTabViewItem(), 0) << "the first tab shows at first";
    EXPECT_FALSE(general->isHidden());
    EXPECT_TRUE(shortcuts->isHidden());
    Rect content = tabs->contentRect();
    EXPECT_GT(content.height(), 100);
    EXPECT_LT(content.height(), 200) << "the tabs take the top";
    EXPECT_EQ(advanced->frame(), content);
    EXPECT_EQ(advanced->window(), &win) << "panes belong to the window";

    // Selecting by a part of the label, as the preferences do.
    for (int i = 0; i < tabs->numberOfTabViewItems(); ++i)
        if (QString::fromStdString(tabs->label(i)).toLower().contains("short")) tabs->selectTabViewItem(i);
    EXPECT_EQ(tabs->indexOfSelectedTabViewItem(), 1);
    EXPECT_TRUE(general->isHidden());
    EXPECT_FALSE(shortcuts->isHidden());

    int picked = 0;
    tabs->onDidSelect = [&](TabView&) { ++picked; };
    tabs->selectTabViewItem(7);  // no such tab
    EXPECT_EQ(tabs->indexOfSelectedTabViewItem(), 1);
    qt::viewWidget(*tabs)->findChild<QTabBar*>()->setCurrentIndex(2);  // the user's click
    EXPECT_EQ(picked, 1);
    EXPECT_FALSE(advanced->isHidden());
    tabs->setFrameSize({400, 260});
    EXPECT_EQ(advanced->frame(), tabs->contentRect()) << "panes follow the view's size";
    EXPECT_EQ(advanced->frame().width(), 400);
}

TEST(Controls, ProgressBarsAndSpinners) {
    ProgressIndicator bar({0, 0, 200, 20});
    auto* qbar = qt::viewWidget(bar)->findChild<QProgressBar*>();
    ASSERT_NE(qbar, nullptr);
    bar.setMaxValue(50);
    bar.setDoubleValue(25);
    EXPECT_EQ(qbar->value(), qbar->maximum() / 2);
    bar.setDoubleValue(80);
    EXPECT_EQ(bar.doubleValue(), 50) << "clamped to the range";
    EXPECT_EQ(qbar->value(), qbar->maximum());
    bar.setIndeterminate(true);
    bar.startAnimation();
    EXPECT_EQ(qbar->maximum(), 0) << "a busy bar";
    bar.stopAnimation();
    EXPECT_GT(qbar->maximum(), 0);

    ProgressIndicator spinner({0, 0, 32, 32}, ProgressIndicator::Style::Spinning);
    auto inked = [&] {
        Image img = spinner.snapshot(1);
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) n += img.colorAt(x, y).alpha8() > 0;
        return n;
    };
    EXPECT_EQ(inked(), 0) << "a stopped spinner is not shown";
    spinner.startAnimation();
    EXPECT_TRUE(spinner.isAnimating());
    EXPECT_GT(inked(), 20);
    spinner.stopAnimation();
    EXPECT_EQ(inked(), 0);
    spinner.setDisplayedWhenStopped(true);
    EXPECT_GT(inked(), 20);
}
