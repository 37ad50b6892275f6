#include "services/Announcer.h"

#include <algorithm>
#include <ctime>

#include "kit/base/Parse.h"
#include "services/AppHooks.h"
#include "services/Settings.h"
#include "services/Str.h"
#include "services/Telemetry.h"
#include "services/Url.h"

namespace services {

namespace {
const kit::Color kBannerColor{236 / 255.0, 54 / 255.0, 0, 1};

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::optional<std::string> valueOf(const std::map<std::string, std::string>& file, const char* key) {
    auto it = file.find(key);
    if (it == file.end()) return std::nullopt;
    return it->second;
}
}  // namespace

Announcer& Announcer::shared() {
    static Announcer* instance = new Announcer(Settings::shared(), Telemetry::shared());
    return *instance;
}

Announcer::Announcer(Settings& settings, Telemetry& telemetry) : settings_(settings), telemetry_(telemetry) {}

void Announcer::configure(const std::map<std::string, std::string>& file) {
    auto length = [](const std::string& s) { return Str::characterCount(s); };
    std::optional<std::string> newCode = valueOf(file, "psa_code");
    if (!newCode || length(*newCode) < 3) {
        code.clear();
        message.clear();
        firstDate = lastDate = "2099-01-01";
        return;
    }
    code = *newCode;
    auto isDate = [&](const std::string& s) { return length(s) == 10 && startsWith(s, "202"); };
    if (auto v = valueOf(file, "psa_firstDate"); v && isDate(*v)) firstDate = *v;
    if (auto v = valueOf(file, "psa_lastDate"); v && isDate(*v)) lastDate = *v;
    if (auto v = valueOf(file, "psa_minLec")) {
        if (auto n = kit::parseInt64(*v); n && *n >= 0) minLec = *n;
    }
    if (auto v = valueOf(file, "psa_message"); v && length(*v) > 3) message = *v;
    if (auto v = valueOf(file, "psa_cta"); v && length(*v) > 2) cta = *v;
    if (auto v = valueOf(file, "psa_link"); v && length(*v) >= 3 && startsWith(*v, "https://")) link = *v;
}

std::optional<double> Announcer::parseDay(const std::string& text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    auto year = kit::parseInt32(text.substr(0, 4));
    auto month = kit::parseInt32(text.substr(5, 2));
    auto day = kit::parseInt32(text.substr(8, 2));
    if (!year || !month || !day || *month < 1 || *month > 12 || *day < 1 || *day > 31) return std::nullopt;
    std::tm local{};
    local.tm_year = *year - 1900;
    local.tm_mon = *month - 1;
    local.tm_mday = *day;
    local.tm_isdst = -1;
    std::time_t seconds = std::mktime(&local);
    // A day that does not exist (31 April) comes back as another one: refused.
    if (seconds == -1 || local.tm_mday != *day || local.tm_mon != *month - 1) return std::nullopt;
    return double(seconds);
}

bool Announcer::inDateWindow() const {
    std::optional<double> first = parseDay(firstDate), last = parseDay(lastDate);
    if (!first || !last) return false;
    double now = kit::wallNow();
    return now >= *first && now <= *last + 86400;
}

bool Announcer::shouldShow() {
    return !code.empty() && inDateWindow() && settings_.storage().integer("announcer:" + code) != 1 &&
           minLec < settings_.localEventCounter();
}

std::shared_ptr<kit::View> Announcer::makeView() {
    auto banner = kit::View::make({0, 0, 480, 39});
    banner->layer()->setBackgroundColor(kBannerColor);
    banner->layer()->setCornerRadius(8);

    // Made with the banner, not with the announcer: the announcer is there
    // from start-up on, and the first text view loads the fonts, which the
    // tray icon need not wait for.
    if (!labelMessage_) labelMessage_ = LabelView::make({}, kit::Font::system(15, kit::FontWeight::Medium));
    if (!btnCTA_) btnCTA_ = StateButton::make();
    if (!btnClose_) btnClose_ = StateButton::make();
    labelMessage_->setTextColor(kit::Color::white(1));
    labelMessage_->setText("The Message");
    banner->addSubview(labelMessage_);

    btnCTA_->cornerRadius = 6;
    btnCTA_->backgroundColor = kit::Color::black().withAlpha(0.15);
    btnCTA_->backgroundColorHover = kit::Color::black().withAlpha(0.15);
    btnCTA_->backgroundColorPressed = kit::Color::black().withAlpha(0.25);
    btnCTA_->borderColor = kit::Color::clear();
    btnCTA_->borderWidth = 0;
    btnCTA_->textColor = kit::Color::white(1);
    btnCTA_->setTitle("Call to Action");
    btnCTA_->action = [this] { doCTA(); };
    btnCTA_->updateAppearance();
    banner->addSubview(btnCTA_);

    btnClose_->setTitle("\u00D7");
    btnClose_->setFontSize(17);
    btnClose_->borderWidth = 0;
    btnClose_->borderColor = btnClose_->backgroundColor = kit::Color::clear();
    btnClose_->backgroundColorHover = btnClose_->backgroundColorPressed = kit::Color::clear();
    btnClose_->textColor = kit::Color::white(1);
    btnClose_->action = [this] { doClose(); };
    btnClose_->updateAppearance();
    banner->addSubview(btnClose_);

    banner->setHidden(true);
    return banner;
}

void Announcer::layoutBanner() {
    // label: 15 in, at most 365 wide, 11 clear above and below; the button
    // 30 after it, 28 high, 6 clear above and below; the close button after
    // that, 39 high from the top, 4 from the right edge. The banner is as
    // tall as the tallest of these needs.
    kit::View* parent = theView_->superview();
    kit::Size label = labelMessage_->fittingSize();
    double labelWidth = std::min(365.0, std::ceil(label.width));
    double ctaWidth = std::max(20.0, std::ceil(btnCTA_->intrinsicSize().width));
    double closeWidth = std::max(10.0, std::ceil(btnClose_->intrinsicSize().width));
    double height = std::max({11 + std::ceil(label.height) + 11, 6 + 28 + 6.0, 39.0});
    double width = 15 + labelWidth + 30 + ctaWidth + closeWidth + 4;
    labelMessage_->setFrame({15, 11, labelWidth, height - 22});
    btnCTA_->setFrame({15 + labelWidth + 30, height - 6 - 28, ctaWidth, 28});
    btnClose_->setFrame({15 + labelWidth + 30 + ctaWidth, height - 39, closeWidth, 39});
    kit::Rect area = parent ? parent->bounds() : kit::Rect{0, 0, width, height + 20};
    double top = parent && parent->isFlipped() ? 20 : area.height() - 20 - height;
    theView_->setFrame({area.midX() - width / 2, top, width, height});
}

void Announcer::attach(kit::View& view) {
    showTimer_.invalidate();
    if (!shouldShow()) {
        hideBanner();
        return;
    }
    if (!theView_) {
        theView_ = makeView();
        theView_->setAutoresizingMask(
            kit::Autoresizing::MinXMargin | kit::Autoresizing::MaxXMargin |
            (view.isFlipped() ? kit::Autoresizing::MaxYMargin : kit::Autoresizing::MinYMargin));
    }
    if (theView_->superview() != &view) {
        theView_->removeFromSuperview();
        view.addSubview(theView_);
    }
    labelMessage_->setText(message);
    btnCTA_->setTitle(cta);
    layoutBanner();
    // One pending show at a time; it checks again when it fires, so a close
    // or a changed announcement in the meantime keeps the banner hidden.
    showTimer_ = kit::Timer::once(kShowDelay, [this] {
        if (!shouldShow()) return;
        theView_->setHidden(false);
        telemetry_.event("announcer:show", {{"code", code}});
    });
}

void Announcer::hideBanner() {
    showTimer_.invalidate();
    if (theView_) theView_->setHidden(true);
}

void Announcer::mark() {
    settings_.storage().set("announcer:" + code, 1);
}

void Announcer::doCTA() {
    telemetry_.event("announcer:action", {{"code", code}});
    auto url = Url::parse(link);
    if (!url || url->scheme != "https") return;
    hookOpenWithDefaultApp(link);
    hideBanner();
    mark();
}

void Announcer::doClose() {
    telemetry_.event("announcer:close", {{"code", code}});
    hideBanner();
    mark();
}

}  // namespace services
