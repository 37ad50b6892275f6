// Every control in its states in one window, drawn and checked at a few
// pixels; the picture is saved (KADRIX_SHOTS names the folder, else the test
// temp folder) for a person to look at. Under a real display, setting
// KADRIX_GALLERY_SECONDS keeps the window up that long for a screen grab.
#include <gtest/gtest.h>

#include <cstdlib>

#include "controls/ClickableView.h"
#include "controls/CtrlButton.h"
#include "controls/CtrlButtonHover.h"
#include "controls/CtrlColorButton.h"
#include "controls/CtrlHelper.h"
#include "controls/CtrlInputCell.h"
#include "controls/CtrlLogoSnake.h"
#include "controls/CtrlRadioImage.h"
#include "controls/CtrlToolbar.h"
#include "controls/CtrlTooltippedSegments.h"
#include "controls/ImageAssets.h"
#include "controls/cellSliderSize.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/draw/LayerRenderer.h"
#include "kit/draw/ShapeLayer.h"
#include "kit/draw/TextLayer.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/Window.h"
#include "support/ScratchFolder.h"

using namespace controls;

namespace {

kit::Image icon(kit::Color color, bool ring) {
    auto l = kit::ShapeLayer::make();
    l->setBounds({0, 0, 20, 20});
    l->setPath(ring ? kit::Path::ellipse({3, 3, 14, 14}) : kit::Path::roundedRect({3, 3, 14, 14}, 3, 3));
    l->setFillColor(ring ? std::nullopt : std::optional<kit::Color>(color));
    l->setStrokeColor(color);
    l->setLineWidth(2);
    return kit::renderToImage(*l, 2.0);
}

kit::Color pixelAt(const kit::Image& img, double x, double yUp) {
    int px = static_cast<int>(x * img.scale());
    int py = img.height() - 1 - static_cast<int>(yUp * img.scale());
    auto p = img.pixel(px, py);
    return kit::Color::rgb(p.r, p.g, p.b, p.a / 255.0);
}

double luminance(kit::Color c) {
    return c.r + c.g + c.b;
}

}  // namespace

TEST(Gallery, EveryControlInItsStates) {
    kit::Window window({200, 200, 600, 400}, kit::WindowStyle::Titled);
    window.setTitle("Controls");
    auto content = window.contentView();
    content->layer()->setBackgroundColor(kit::Color::white(0.93));

    // Buttons: normal, hover, pressed; the hover-style icon button.
    std::vector<std::shared_ptr<CtrlButton>> buttons;
    const char* states[] = {"normal", "hover", "pressed"};
    for (int i = 0; i < 3; ++i) {
        auto b = std::make_shared<CtrlButton>(kit::Rect{20.0 + i * 90, 280, 80, 28});
        b->setTitle(states[i]);
        b->borderWidth = 1;
        b->backgroundColorHover = kit::Color::white(0, 0.18);
        b->backgroundColorPressed = kit::Color::white(0, 0.35);
        content->addSubview(b);
        b->mouseState = states[i];
        b->updateAppearance();
        buttons.push_back(b);
    }
    auto hover = std::make_shared<CtrlButtonHover>(kit::Rect{300, 278, 32, 32});
    hover->setImage(icon({0.95, 0.25, 0.12, 1}, false));
    content->addSubview(hover);

    // Swatches: plain, selected, pressed; tiles: gradient, chosen.
    std::vector<std::shared_ptr<CtrlColorButton>> swatches;
    for (int i = 0; i < 3; ++i) {
        auto s = std::make_shared<CtrlColorButton>(kit::Rect{20.0 + i * 40, 220, 28, 28});
        s->backgroundColor = kit::Color::rgb(0, 164, 144);
        s->togglable = true;
        content->addSubview(s);
        s->setState(i == 1 ? 1 : 0);
        s->setHighlighted(i == 2);
        swatches.push_back(s);
    }
    auto tile = std::make_shared<CtrlRadioImage>(kit::Rect{150, 212, 56, 40});
    tile->gradColors = {kit::Color::rgb(247, 71, 35), kit::Color::rgb(119, 88, 239)};
    content->addSubview(tile);
    tile->repaint();
    auto chosen = std::make_shared<CtrlRadioImage>(kit::Rect{216, 212, 56, 40});
    chosen->backgroundColor = kit::Color::rgb(255, 220, 44);
    content->addSubview(chosen);
    chosen->setState(1);

    // Tool bar: fifteen tools in 200 points with the armed tool in the overflow.
    std::vector<std::pair<std::string, std::string>> items;
    for (int i = 0; i < 15; ++i) {
        std::string name = "gallery-tool-" + std::to_string(i);
        ImageAssets::set(name, icon(kit::Color{0.1 + 0.05 * i, 0.3, 0.6 - 0.03 * i, 1}, i % 2 == 1));
        items.push_back({"Tool " + std::to_string(i) + " (" + std::string(1, char('A' + i)) + ")", name});
    }
    auto bar = std::make_shared<CtrlToolbar>(kit::Rect{20, 160, 200, 30});
    content->addSubview(bar);
    bar->layoutItems(items);
    bar->select("tool 12");

    // Segments, slider, clickable area under the pointer.
    auto seg = std::make_shared<CtrlTooltippedSegments>(kit::Rect{20, 110, 180, 24});
    seg->setSegmentCount(3);
    seg->setLabel("Copy", 0);
    seg->setLabel("Save", 1);
    seg->setLabel("Pin", 2);
    content->addSubview(seg);
    seg->setSelectedSegment(1);
    auto slider = std::make_shared<cellSliderSize>(kit::Rect{220, 110, 140, 24});
    slider->maxValue = 7;
    content->addSubview(slider);
    slider->setValue(3);
    auto clickable = std::make_shared<ClickableView>(kit::Rect{380, 110, 80, 24});
    content->addSubview(clickable);
    clickable->mouseEntered({});

    // A hint bubble with a read-out, and the same bubble muted in a top row.
    auto readout = [&](kit::Rect frame, const std::string& words, bool mute) {
        auto bubble = std::make_shared<CtrlHelper>(frame);
        bubble->animation = 0;
        auto text = kit::View::make({12, 16, 140, 24});
        auto label = kit::TextLayer::make();
        label->setString(words);
        label->setFontSize(15);
        label->setForegroundColor(kit::Color::white(0.1));
        label->setFrame({0, 0, 140, 24});
        text->layer()->addSublayer(label);
        bubble->addSubview(text);
        content->addSubview(bubble);
        bubble->awake();
        if (mute) bubble->mute();
        bubble->show();
        return bubble;
    };
    auto bubble = readout({20, 20, 160, 56}, "Zoom 200%", false);
    auto muted = readout({20, 330, 160, 56}, "Zoom 50%", true);

    // A hovered icon button and a pressed clickable area.
    auto hoverIcon = std::make_shared<CtrlButtonHover>(kit::Rect{220, 342, 32, 32});
    hoverIcon->normalImage = icon({0.95, 0.25, 0.12, 1}, false);
    hoverIcon->hoverImage = icon({0.95, 0.25, 0.12, 1}, true);
    hoverIcon->setImage(*hoverIcon->normalImage);
    content->addSubview(hoverIcon);
    hoverIcon->mouseEntered({});
    auto pressedArea = std::make_shared<ClickableView>(kit::Rect{280, 346, 80, 24});
    content->addSubview(pressedArea);
    pressedArea->mouseDown({});

    // The logo snake mid-game and showing a score.
    auto game = std::make_shared<CtrlLogoSnake>(kit::Rect{220, 30, 73, 33});
    content->addSubview(game);
    game->start();
    auto score = std::make_shared<CtrlLogoSnake>(kit::Rect{310, 30, 73, 33});
    content->addSubview(score);
    score->game.drawScore(42);
    score->redraw();
    score->lfield->setHidden(false);

    // Input cells: idle and being edited, each with its text centred.
    CtrlInputCell cell;
    for (int editing = 0; editing < 2; ++editing) {
        kit::Rect frame{410, 24.0 + (1 - editing) * 32, 170, 24};
        auto field = kit::View::make(frame);
        auto box = kit::ShapeLayer::make();
        box->setFrame(field->bounds());
        cell.drawWithFrame(*box, field->bounds(), editing == 1, false);
        field->layer()->addSublayer(box);
        auto value = kit::TextLayer::make();
        value->setString(editing ? "Editing" : "1280");
        value->setFontSize(13);
        value->setForegroundColor(kit::Color::white(0.1));
        value->setFrame(CtrlInputCell::centredTitleRect(field->bounds().insetBy(6, 0), 16));
        field->layer()->addSublayer(value);
        content->addSubview(field);
    }

    window.makeKeyAndOrderFront();
    kit::processMainEvents();
    if (const char* hold = std::getenv("KADRIX_GALLERY_SECONDS")) {
        double seconds = std::atof(hold);
        kit::runMainLoopUntil([] { return false; }, seconds);
    }
    kit::Image shot = content->snapshot(2);
    ASSERT_FALSE(shot.isNull());
    const char* dir = std::getenv("KADRIX_SHOTS");
    testsupport::ScratchFolder scratch;
    std::string folder = dir ? dir : scratch.path();
    kit::files::makeDirs(folder);
    auto png = kit::ImageIO::encodePNG(shot);
    EXPECT_TRUE(
        kit::files::writeAtomic(folder + "/controls-gallery.png",
                                std::string_view(reinterpret_cast<const char*>(png.data()), png.size())));

    // Fill per mouse state: each darker than the last.
    double normal = luminance(pixelAt(shot, 24, 284));
    double hovered = luminance(pixelAt(shot, 114, 284));
    double pressed = luminance(pixelAt(shot, 204, 284));
    EXPECT_GT(normal, hovered);
    EXPECT_GT(hovered, pressed);
    // The selected swatch has its inner ring of window background near its edge.
    kit::Color plainEdge = pixelAt(shot, 20 + 2.5, 234), selectedEdge = pixelAt(shot, 60 + 2.5, 234);
    EXPECT_GT(luminance(selectedEdge), luminance(plainEdge) + 0.5);
    // The pressed swatch is darker than the plain one in its middle.
    EXPECT_LT(luminance(pixelAt(shot, 114, 234)), luminance(pixelAt(shot, 34, 234)));
    // The tile's gradient runs from orange at the bottom to violet at the top.
    EXPECT_GT(pixelAt(shot, 178, 216).r, pixelAt(shot, 178, 248).r);
    // The muted bubble lets the window show through more than the shown one.
    EXPECT_LT(luminance(pixelAt(shot, 170, 350)), luminance(pixelAt(shot, 170, 40)) - 0.05);
    // The tool bar shows its More button on the last whole slot that fits.
    EXPECT_FALSE(bar->btnMore->isHidden());
    EXPECT_EQ(bar->btnMore->state(), 1);
    // The snake's head cell (7, 3) is lit in the main colour; the score's "4" stem too.
    EXPECT_GT(pixelAt(shot, 220 + 7 * 4 + 2.5, 30 + 3 * 4 + 2.5).r, 0.8);
    EXPECT_GT(pixelAt(shot, 310 + 7 * 4 + 2.5, 30 + 4 * 4 + 2.5).r, 0.8);
}
