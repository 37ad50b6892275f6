#pragma once
// The library view's rules that need no window: status-line texts, the tool
// bar's title matching, popover and quick-look geometry, which areas show in
// which state, reselection after a delete and the ordering of searches.
#include <cstdint>
#include <optional>
#include <string>

#include "kit/base/Geometry.h"

namespace library {

// "1,234" in the user's grouping (plain digits when the locale gives none).
std::string formatCount(int64_t n);
// "12 images", "1 image".
std::string imagesText(int64_t n);
// A capture time (seconds since 1970, local zone) as "Mar 5, 2024 at 3:07pm".
std::string statusDate(int64_t ts);
// ", 245kb" up to 1 MiB, ", 2.4mb" above, nothing for 0 bytes.
std::string statusSize(int64_t bytes);
// The status line of one selected screenshot with a record.
std::string selectedStatus(int64_t ts, int64_t bytes);

// A tool bar title as its click is matched: lower case, without "capture",
// trimmed ("Scrolling Capture (Up)" gives "scrolling  (up)").
std::string normalizeToolTitle(const std::string& title);

// The popover's content size for the "libPopoveerSize" setting and the
// height of the visible part of its screen (negative: no screen); `chrome`
// is what the popover's panel adds around its content.
kit::Size popoverSize(const std::string& sizeSetting, double visibleHeight, double chrome = 0);

// Which areas of the library view show.
struct VisibilityInput {
    bool enabled = false;      // libEnabled
    bool loading = false;      // a load is running
    bool bigMessage = false;   // the big message area is on
    bool indexing = false;     // an index run was initiated
    int64_t queued = 0;        // files waiting for indexing
    int64_t visibleCount = 0;  // entries to show
    bool offerAllowed = true;  // libAllowPreexisting: the progress area may offer new files
};
struct Visibility {
    bool gallery = false, search = false, spinner = false, message = false, progress = false;
    // Nothing: the status line is left as it is.
    std::optional<bool> status;
};
Visibility visibilityFor(const VisibilityInput& in);

// Where quick look shows an image of `imageSize` points: beside the popover
// frame `sender` (its right edge 16 points left of it) or centred in the
// visible frame. Always a positive size inside the visible frame; nothing for
// an empty image.
std::optional<kit::Rect> quickLookFrame(kit::Size imageSize, const kit::Rect& visibleFrame,
                                        const std::optional<kit::Rect>& sender);

// The item to select after deleting `deleted` items at `anchor`, with
// `remaining` items left; nothing when none remain.
std::optional<int> reselectAfterDelete(int anchor, int deleted, int remaining);

// Typing keys move the focus to the search field: all letters and digits, or
// all punctuation, or all blanks and tabs.
bool isTypingKey(const std::string& characters);

// Searches finish out of order; only the newest one's results are shown.
class SearchSequence {
public:
    uint64_t begin() { return ++latest_; }
    bool isCurrent(uint64_t ticket) const { return ticket == latest_; }
    // A cleared field or a refresh overtakes the searches still running.
    void cancel() { ++latest_; }

private:
    uint64_t latest_ = 0;
};

}  // namespace library
