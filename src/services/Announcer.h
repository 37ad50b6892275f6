#pragma once
// A short, remotely configured announcement shown as a banner at the top of
// the editor: a message, a call-to-action button that opens a link and a
// close button. The version file configures it ("psa_" keys); it shows
// within its dates once the local event counter passes a minimum, and once
// acted on or closed it never shows again for its code. Main thread only.
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "kit/base/Timer.h"
#include "kit/ui/View.h"
#include "services/LabelView.h"
#include "services/StateButton.h"

namespace services {

class Settings;
class Telemetry;

class Announcer {
public:
    static constexpr double kShowDelay = 0.4;

    // The one announcer (the application core keeps it as its banner).
    static Announcer& shared();
    Announcer(Settings& settings, Telemetry& telemetry);
    Announcer(const Announcer&) = delete;
    Announcer& operator=(const Announcer&) = delete;

    std::string code;
    std::string firstDate = "2099-01-01";
    std::string lastDate = "2099-01-01";
    int64_t minLec = 0;
    std::string message;
    std::string cta;
    std::string link;

    void configure(const std::map<std::string, std::string>& file);
    // Today lies between the first and the last date (both whole days, local time).
    bool inDateWindow() const;
    bool shouldShow();
    // Puts the banner into `view` (20 points below its top, centred) and shows
    // it 0.4 s later when the announcement is due; hides it otherwise.
    void attach(kit::View& view);
    std::shared_ptr<kit::View> makeView();
    void doCTA();
    void doClose();

    kit::View* theView() const { return theView_.get(); }
    // The banner's parts; none before the banner is first made.
    StateButton* ctaButton() const { return btnCTA_.get(); }
    StateButton* closeButton() const { return btnClose_.get(); }
    LabelView* messageLabel() const { return labelMessage_.get(); }

    // Midnight at the start of a "yyyy-MM-dd" day in local time, in seconds since 1970.
    static std::optional<double> parseDay(const std::string& text);

private:
    void layoutBanner();
    void mark();
    void hideBanner();

    Settings& settings_;
    Telemetry& telemetry_;
    std::shared_ptr<kit::View> theView_;
    std::shared_ptr<LabelView> labelMessage_;
    std::shared_ptr<StateButton> btnCTA_;
    std::shared_ptr<StateButton> btnClose_;
    kit::Timer showTimer_;
};

}  // namespace services
