#pragma once
// Translational registration of two frames of the same scrolled region: how
// far the content moved vertically between them. Our own algorithm: scrolled
// content is drawn again pixel for pixel, so each row of the central columns
// is reduced to a signature, and only the shifts at which about as many rows
// agree as at the best one are weighed; the whole width decides between
// them. Content redrawn with small changes, on which few rows agree exactly,
// goes to a search over grey copies that scores every shift.
//
// Terminals, logs and tables repeat: their middle columns read the same on
// every line, so a scroll by whole lines agrees at every multiple of the line
// pitch. The whole width (line numbers, times) usually tells those apart;
// when it cannot, the measurement is ambiguous and says so, and the caller
// decides with what it knows of the scroll, or not at all.
#include <optional>
#include <vector>

#include "kit/base/Image.h"

namespace capture {

struct Shift {
    int dy = 0;       // pixels; positive when the content moved up (scrolled down)
    double cost = 0;  // mean absolute grey difference over the overlap at dy (central columns)
    // Every shift that agrees over the whole width as well as dy does, dy
    // among them, in ascending order. One element: the measurement is sure.
    std::vector<int> ties;
    bool unambiguous() const { return ties.size() <= 1; }
};

// The vertical shift of `next` against `prev`: row r of `next` shows what row
// r + dy of `prev` showed. Shifts up to `maxShift` pixels either way are
// searched (0: up to 0.7 of the height). Absent when the frames differ in
// size, are too small, or no shift makes them agree. Among tied shifts, dy is
// the one that agrees best over the whole width, then the smallest movement.
std::optional<Shift> registerFrames(const kit::Image& prev, const kit::Image& next, int maxShift = 0);

// Of several shifts that agree equally well, the one a prediction points at:
// the nearest to `predicted`, when it lies within a tenth of it (2 pixels at
// least) and every other one lies at least three times as far. Absent when no
// shift is clearly the one, or the prediction is negative or not a number.
std::optional<int> nearestTo(const std::vector<int>& shifts, double predicted);

// Rows at the top and at the bottom of a region that stayed put between two
// frames while rows between them changed: a title or a status line over a
// page that scrolls. Such rows agree only at standing still, and tall ones
// outweigh a page whose lines look alike; the frames are registered without
// them. Counted from each edge, the rows the same in both frames, two fifths
// of the height at most together (the top's first), so that three fifths
// remain to register. None when the frames are the same throughout or
// differ in size.
struct FixedRows {
    int top = 0, bottom = 0;
    bool operator==(const FixedRows&) const = default;
};
FixedRows fixedRows(const kit::Image& prev, const kit::Image& next);

// The shift of `next` against `prev` measured on the rows between their
// fixed rows: a title that stays put agrees only at standing still, and a
// tall one outweighs look-alike lines scrolling under it. Searched as far as
// `reach` of the frame's height less the rows left out (0: 0.7 of the rows
// measured), so the overlap it needs stays below the title.
std::optional<Shift> registerPage(const kit::Image& prev, const kit::Image& next, double reach = 0);

// The rows at the region's edges that stayed put while the page moved by
// `s` pixels (as `Shift::dy`): a title, a status line, also one with a row
// that changes (a clock) or one taller than the measuring leaves out. A row
// stayed when it is nearer what `prev` showed in its place than what it
// showed where the page came from, or the same in its place where no row
// came from (outside the frame) and it is not of one colour; never when it
// changed in its place and came out from behind the band. Rows that read
// the same in both (a blank row, alike lines) could be either: they belong
// to a band only with rows that stayed beyond them.
FixedRows bandsBetween(const kit::Image& prev, const kit::Image& frame, int s);

// How many rows of `frame` differ from those of `prev` in their place.
int rowsChanged(const kit::Image& prev, const kit::Image& frame);

// Whether `frame` looks the same moved by some rows, up to half its height:
// over the whole width, all but an eighth of the rows with texture agree
// with the rows that many below them. On such a region a scroll by that much
// cannot be seen, the rows that stay put (a title, a status line) aside.
// Rows of one colour across the central columns tell nothing of where they
// are and are left out, so empty lines look alike too.
bool looksAlikeShifted(const kit::Image& frame);

// Mean absolute grey difference of `n` rows of `a` from row `ya` against `n`
// rows of `b` from row `yb`, over the whole width of the narrower image.
double rowsDifference(const kit::Image& a, int ya, const kit::Image& b, int yb, int n);

}  // namespace capture
