#include "backdrop/BackdropViewController.h"

#include <algorithm>
#include <cmath>

#include "backdrop/Backdrop.h"
#include "backdrop/CustomImages.h"
#include "backdrop/Templates.h"
#include "editor/Undo.h"
#include "kit/ui/FilePanels.h"
#include "services/Settings.h"

namespace backdrop {

namespace {

constexpr double kMargin = 12, kRow = 26, kTileW = 44, kTileH = 30, kTileGap = 8;

// The bubble takes image files dropped on it as the backdrop's picture.
class PanelView : public controls::CtrlHelper {
public:
    PanelView(const kit::Rect& frame, BackdropViewController& owner)
        : controls::CtrlHelper(frame), owner_(owner) {
        registerForDraggedFilesAndImages(true);
    }
    bool draggingEntered(const kit::DraggingInfo& info) override { return !info.filePaths.empty(); }
    bool performDragOperation(const kit::DraggingInfo& info) override {
        return !info.filePaths.empty() && owner_.loadNewFile(info.filePaths.front(), "drop");
    }

private:
    BackdropViewController& owner_;
};

kit::Color colorFromHex(const std::string& text, kit::Color fallback) {
    return kit::Color::fromHex(text).value_or(fallback);
}

RGBColor rgb(kit::Color c) {
    return {c.r, c.g, c.b};
}

std::shared_ptr<kit::Label> smallLabel(const std::string& text, kit::Rect frame) {
    auto l = std::make_shared<kit::Label>(frame);
    l->setStringValue(text);
    l->setFont(kit::Font::system(11));
    return l;
}

// A picture cut to the tile's shape (its middle) at two pixels a point.
kit::Image tileImage(const kit::Image& picture) {
    if (picture.isNull()) return {};
    const double want = kTileW / kTileH, have = double(picture.width()) / picture.height();
    const int w = have > want ? int(std::lround(picture.height() * want)) : picture.width();
    const int h = have > want ? picture.height() : int(std::lround(picture.width() / want));
    kit::Image tile = picture.cropped((picture.width() - w) / 2, (picture.height() - h) / 2, w, h)
                          .scaled(int(kTileW * 2) - 8, int(kTileH * 2) - 8);
    tile.setScale(2);
    return tile;
}

// The custom tile's colours as last remembered.
std::vector<kit::Color> customGradient() {
    return {colorFromHex(services::Settings::shared().customGradFrom(), kit::Color::black()),
            colorFromHex(services::Settings::shared().customGradTo(), kit::Color::white(1))};
}

}  // namespace

const std::vector<std::string>& BackdropViewController::modes() {
    static const std::vector<std::string> list = {"gradient", "mesh", "flat", "image"};
    return list;
}

const std::vector<std::string>& BackdropViewController::ratios() {
    static const std::vector<std::string> list = {"auto", "16:9", "4:3", "3:2", "1:1", "4:5", "9:16"};
    return list;
}

BackdropViewController::BackdropViewController(Backdrop& backdrop) : backdrop_(backdrop) {
    view = std::make_shared<PanelView>(kit::Rect{0, 0, kWidth, 400}, *this);
    view->transient = false;
    view->awake();
    auto weak = [this, alive = std::weak_ptr<bool>(alive_)](auto fn) {
        return [this, alive, fn](auto&...) {
            if (alive.lock()) fn(this);
        };
    };

    segMode = std::make_shared<kit::SegmentedControl>(kit::Rect{kMargin, 0, kWidth - 2 * kMargin, 24});
    segMode->setSegmentCount(4);
    const char* titles[] = {"Gradient", "Mesh", "Solid", "Image"};
    for (int i = 0; i < 4; ++i) segMode->setLabel(titles[i], i);
    segMode->setAction(weak([](BackdropViewController* c) { c->selectMode(c->segMode->selectedSegment()); }));
    view->addSubview(segMode);

    stack = std::make_shared<controls::CtrlWrappedStack>(kit::Rect{kMargin, 0, kWidth - 2 * kMargin, kTileH});
    stack->subWidth = kTileW;
    stack->subHeight = kTileH;
    stack->gap = kTileGap;
    view->addSubview(stack);

    wellFrom = std::make_shared<kit::ColorWell>(kit::Rect{kMargin + 70, 0, 44, 22});
    wellTo = std::make_shared<kit::ColorWell>(kit::Rect{kMargin + 122, 0, 44, 22});
    wellFrom->setAction(weak([](BackdropViewController* c) { c->colorChanged(true, c->wellFrom->color()); }));
    wellTo->setAction(weak([](BackdropViewController* c) { c->colorChanged(false, c->wellTo->color()); }));
    btnAddPicture =
        kit::Button::make("Add Picture\u2026", weak([](BackdropViewController* c) { c->addPicture(); }));
    btnAddPicture->setFrame({kMargin, 0, 130, 24});
    btnRemovePicture =
        kit::Button::make("Remove", weak([](BackdropViewController* c) { c->removePicture(); }));
    btnRemovePicture->setFrame({kMargin + 138, 0, 90, 24});
    labelColors = smallLabel("Colours", {kMargin, 0, 66, 18});
    for (auto v : std::initializer_list<std::shared_ptr<kit::View>>{labelColors, wellFrom, wellTo,
                                                                    btnAddPicture, btnRemovePicture})
        view->addSubview(v);

    slPadding = slider("Padding", 0, 200);
    slInset = slider("Inset", 0, 60);
    slRadius = slider("Radius", 0, 40);
    slCorners = slider("Corners", 0, 40);
    slShadow = slider("Shadow", 0, 1);
    slNoise = slider("Grain", 0, 1);

    ddlRatio = std::make_shared<kit::PopUpButton>(kit::Rect{kMargin + 70, 0, 90, 24});
    ddlRatio->addItems({"Auto", "16:9", "4:3", "3:2", "1:1", "4:5", "9:16"});
    ddlRatio->setAction(weak([](BackdropViewController* c) { c->ratioChanged(); }));
    view->addSubview(ddlRatio);
    swAutoCrop = kit::Button::make("Auto crop", weak([](BackdropViewController* c) { c->autoCropChanged(); }),
                                   kit::Button::Type::Checkbox);
    swAutoCrop->setFrame({kMargin + 170, 0, 110, 24});
    view->addSubview(swAutoCrop);
    updateControls();
}

BackdropViewController::~BackdropViewController() = default;

std::shared_ptr<kit::Slider> BackdropViewController::slider(const std::string& title, double min,
                                                            double max) {
    auto row = kit::View::make({kMargin, 0, kWidth - 2 * kMargin, 22});
    row->addSubview(smallLabel(title, {0, 2, 66, 18}));
    auto s = std::make_shared<kit::Slider>(kit::Rect{70, 0, kWidth - 2 * kMargin - 70, 22});
    s->setRange(min, max);
    s->setAction([this, alive = std::weak_ptr<bool>(alive_)](kit::Control& c) {
        if (alive.lock()) sliderChanged(static_cast<kit::Slider&>(c));
    });
    row->addSubview(s);
    view->addSubview(row);
    sliderRows_.push_back(row);
    return s;
}

// ---- following the configuration ----------------------------------------------------

void BackdropViewController::updateControls() {
    updating_ = true;
    const Config& c = backdrop_.c;
    const auto& m = modes();
    const auto it = std::find(m.begin(), m.end(), c.mode);
    segMode->setSelectedSegment(it == m.end() ? 0 : int(it - m.begin()));
    rebuildTiles();
    syncWells();
    slPadding->setDoubleValue(c.padding);
    slInset->setDoubleValue(std::max(0.0, c.inset));
    slRadius->setDoubleValue(c.innerRadius);
    slCorners->setDoubleValue(c.outerRadius);
    slShadow->setDoubleValue(c.shadow);
    slNoise->setDoubleValue(c.noise);
    const auto& r = ratios();
    const auto rt = std::find(r.begin(), r.end(), c.ratio);
    ddlRatio->selectItem(rt == r.end() ? 0 : int(rt - r.begin()));
    swAutoCrop->setState(c.autoCrop == 1 ? kit::ControlState::On : kit::ControlState::Off);
    layoutPanel();
    updating_ = false;
}

void BackdropViewController::rebuildTiles() {
    const Config& c = backdrop_.c;
    const std::vector<std::string> pictures =
        c.mode == "image" ? CustomImages::list() : std::vector<std::string>{};
    if (tilesFor_ != c.mode || pictures != pictures_) {
        for (auto& t : tiles) t->removeFromSuperview();
        tiles.clear();
        customTile.reset();
        pictures_ = pictures;
        tilesFor_ = c.mode;
        auto make = [this](std::function<void(BackdropViewController*)> fn) {
            auto t = std::make_shared<controls::CtrlRadioImage>(kit::Rect{0, 0, kTileW, kTileH});
            t->action = [this, alive = std::weak_ptr<bool>(alive_), fn](controls::ButtonBase&) {
                if (alive.lock()) fn(this);
            };
            tiles.push_back(t);
            stack->addSubview(t);
            return t;
        };
        const auto& list = templatesFor(c.mode);
        for (size_t i = 0; i < list.size(); ++i) {
            auto t = make([i](BackdropViewController* p) { p->chooseTemplate(i); });
            const Template& tp = list[i];
            if (tp.mode == "flat") {
                t->backgroundColor = tp.colors[0].color();
            } else {
                for (const RGBColor& col : tp.colors) t->gradColors.push_back(col.color());
            }
        }
        if (c.mode == "flat" || c.mode == "gradient") {
            customTile = make([](BackdropViewController* p) { p->chooseCustom(); });
            customTile->setToolTip("Your own colours");
        }
        for (const std::string& name : pictures_) {
            auto t = make([name](BackdropViewController* p) { p->choosePicture(name); });
            t->setImage(tileImage(CustomImages::thumbnail(name)));
        }
    }
    // The custom swatch shows the remembered colours.
    if (customTile) {
        if (c.mode == "flat") {
            customTile->backgroundColor =
                colorFromHex(services::Settings::shared().customBackdropColor(), kit::Color::white(0.5));
            customTile->gradColors.clear();
        } else {
            customTile->gradColors = customGradient();
        }
    }
    // The chosen tile: the template the colours match, the custom swatch
    // for colours of the user's own, or the picture in use.
    const auto& list = templatesFor(c.mode);
    bool any = false;
    for (size_t i = 0; i < tiles.size(); ++i) {
        bool chosen = false;
        if (i < list.size()) {
            chosen = list[i].matches(c);
        } else if (tiles[i] == customTile) {
            chosen = !any;
        } else {
            const size_t p = i - list.size() - (customTile ? 1 : 0);
            chosen = p < pictures_.size() && pictures_[p] == c.imageName;
        }
        any = any || chosen;
        tiles[i]->setState(chosen ? 1 : 0);
        tiles[i]->repaint();
    }
}

void BackdropViewController::layoutPanel() {
    const std::string& mode = backdrop_.c.mode;
    const double stackH = std::max(kTileH, stack->intrinsicContentSize().height);
    const bool colours = mode == "flat" || mode == "gradient", pictures = mode == "image";
    const double extras = (colours || pictures) ? kRow + 6 : 0;
    const double height =
        kMargin + 24 + 10 + stackH + 8 + extras + sliderRows_.size() * kRow + kRow + kMargin;
    // Keep the top edge where it is: the bubble hangs from the window's top.
    const kit::Rect f = view->frame();
    view->setFrame({f.x(), f.y() + f.height() - height, kWidth, height});
    double y = height - kMargin - 24;
    segMode->setFrameOrigin({kMargin, y});
    y -= 10 + stackH;
    stack->setFrame({kMargin, y, kWidth - 2 * kMargin, stackH});
    stack->arrange();
    y -= 8;
    wellFrom->setHidden(!colours);
    labelColors->setHidden(!colours);
    wellTo->setHidden(mode != "gradient");
    btnAddPicture->setHidden(!pictures);
    btnRemovePicture->setHidden(!pictures);
    btnRemovePicture->setEnabled(!backdrop_.c.imageName.empty());
    if (extras > 0) {
        y -= kRow;
        for (auto v : std::initializer_list<std::shared_ptr<kit::View>>{wellFrom, wellTo})
            v->setFrameOrigin({v->frame().x(), y + 2});
        labelColors->setFrameOrigin({kMargin, y + 4});
        btnAddPicture->setFrameOrigin({kMargin, y});
        btnRemovePicture->setFrameOrigin({kMargin + 138, y});
        y -= 6;
    }
    for (auto& row : sliderRows_) {
        y -= kRow;
        row->setFrameOrigin({kMargin, y + 2});
    }
    y -= kRow;
    ddlRatio->setFrameOrigin({kMargin, y});
    swAutoCrop->setFrameOrigin({kMargin + 100, y});
}

void BackdropViewController::rememberCustomColors() {
    const Config& c = backdrop_.c;
    if (c.mode == "flat") {
        services::Settings::shared().setCustomBackdropColor(c.flatColor.color().hex());
    } else if (c.mode == "gradient") {
        services::Settings::shared().setCustomGradFrom(c.gradientStart.color().hex());
        services::Settings::shared().setCustomGradTo(c.gradientEnd.color().hex());
    } else {
        return;
    }
    rebuildTiles();
}

// ---- the user's changes --------------------------------------------------------------

void BackdropViewController::syncWells() {
    const Config& c = backdrop_.c;
    wellFrom->setColor(c.mode == "flat" ? c.flatColor.color() : c.gradientStart.color());
    wellTo->setColor(c.gradientEnd.color());
}

void BackdropViewController::changed(bool refit) {
    backdrop_.configChanged(refit);
    updating_ = true;
    syncWells();
    rebuildTiles();
    layoutPanel();
    updating_ = false;
    debounceUndo();
}

void BackdropViewController::debounceUndo() {
    // A slider drag sends a stream of changes: one snapshot after it settles.
    editor::Undo::shared().tmDebounce = kit::Timer::once(0.33, [] { editor::Undo::shared().save(""); });
}

void BackdropViewController::selectMode(int segment) {
    if (updating_ || segment < 0 || segment >= int(modes().size())) return;
    Config& c = backdrop_.c;
    c.mode = modes()[size_t(segment)];
    c.templateName.clear();
    // A mode shows its first template until the user picks one, and the
    // picture mode the newest picture.
    const auto& list = templatesFor(c.mode);
    if (!list.empty() &&
        std::none_of(list.begin(), list.end(), [&](const Template& t) { return t.matches(c); }))
        list.front().applyTo(c);
    if (c.mode == "image") {
        const auto names = CustomImages::list();
        if (std::find(names.begin(), names.end(), c.imageName) == names.end())
            c.imageName = names.empty() ? "" : names.back();
        if (c.imageName.empty()) {
            // Nothing to show yet: ask for a picture, keep the look otherwise.
            c.mode = "gradient";
            backdrop_.configChanged(false);
            updateControls();
            addPicture();
            return;
        }
    }
    changed(false);
}

void BackdropViewController::chooseTemplate(size_t index) {
    const auto& list = templatesFor(backdrop_.c.mode);
    if (index >= list.size()) return;
    list[index].applyTo(backdrop_.c);
    changed(false);
}

void BackdropViewController::chooseCustom() {
    Config& c = backdrop_.c;
    if (c.mode == "flat") {
        c.flatColor =
            rgb(colorFromHex(services::Settings::shared().customBackdropColor(), kit::Color::white(0.5)));
    } else {
        const auto g = customGradient();
        c.gradientStart = rgb(g[0]);
        c.gradientEnd = rgb(g[1]);
    }
    c.templateName.clear();
    changed(false);
    updateControls();
}

void BackdropViewController::choosePicture(const std::string& name) {
    backdrop_.c.mode = "image";
    backdrop_.c.imageName = name;
    backdrop_.c.templateName.clear();
    changed(false);
}

void BackdropViewController::colorChanged(bool from, kit::Color color) {
    if (updating_) return;
    Config& c = backdrop_.c;
    if (c.mode == "flat") {
        c.flatColor = rgb(color);
    } else if (from) {
        c.gradientStart = rgb(color);
    } else {
        c.gradientEnd = rgb(color);
    }
    c.templateName.clear();
    backdrop_.configChanged(false);
    rememberCustomColors();
    debounceUndo();
}

void BackdropViewController::sliderChanged(kit::Slider& s) {
    if (updating_) return;
    Config& c = backdrop_.c;
    const double v = s.doubleValue();
    bool refit = false;
    if (&s == slPadding.get()) {
        c.padding = std::round(v);
        refit = true;
    } else if (&s == slInset.get()) {
        // The far left of the slider is "no inset" (stored as −1).
        c.inset = std::round(v) <= 0 ? -1 : std::round(v);
        refit = true;
    } else if (&s == slRadius.get()) {
        c.innerRadius = std::round(v);
    } else if (&s == slCorners.get()) {
        c.outerRadius = std::round(v);
    } else if (&s == slShadow.get()) {
        c.shadow = std::round(v * 100) / 100;
    } else if (&s == slNoise.get()) {
        c.noise = std::round(v * 100) / 100;
    }
    changed(refit);
}

void BackdropViewController::ratioChanged() {
    if (updating_) return;
    const int i = ddlRatio->indexOfSelectedItem();
    if (i < 0 || i >= int(ratios().size())) return;
    backdrop_.c.ratio = ratios()[size_t(i)];
    changed(true);
}

void BackdropViewController::autoCropChanged() {
    if (updating_) return;
    backdrop_.c.autoCrop = swAutoCrop->state() == kit::ControlState::On ? 1 : 0;
    backdrop_.applyAutoCrop();
    changed(true);
}

// ---- pictures ---------------------------------------------------------------------

void BackdropViewController::addPicture() {
    kit::OpenPanel panel;
    panel.title = "Choose a Backdrop Picture";
    panel.allowedTypes = {"png", "jpg", "jpeg", "gif", "bmp", "webp", "tif", "tiff"};
    panel.prompt = "Choose";
    const std::vector<std::string> chosen = panel.runModal();
    if (!chosen.empty()) loadNewFile(chosen.front(), "panel");
}

bool BackdropViewController::loadNewFile(const std::string& file, const std::string& method) {
    const bool taken = backdrop_.loadNewFile(file, method);
    if (taken) {
        updateControls();
        debounceUndo();
    }
    return taken;
}

void BackdropViewController::removePicture() {
    Config& c = backdrop_.c;
    const std::string name = c.imageName;
    if (name.empty() || !CustomImages::remove(name)) return;
    const auto names = CustomImages::list();
    c.imageName = names.empty() ? "" : names.back();
    if (c.imageName.empty()) c.mode = "gradient";
    changed(false);
    updateControls();
}

}  // namespace backdrop
