#!/usr/bin/env python3
"""A terminal page under a title that stays: numbered lines that the mouse
wheel scrolls in a curses screen whose top rows (and bottom rows) hold still,
as editors, mail and chat programs keep theirs.

  titled_lines.py LINES TITLE_ROWS FOOTER_ROWS CLICK_LINES INFO [top|end] [whole|each]

The body scrolls inside the terminal's scroll region, so the terminal moves
the lines itself: a wheel click moves it CLICK_LINES lines at once (whole), or
one line at a time, each written out as it comes (each). The page starts at
its top or at its end. After every redraw INFO holds the number of the first
line shown (from 1)."""
import curses
import os
import sys


def main(stdscr, total, title, footer, click, info, start, each):
    curses.curs_set(0)
    curses.mousemask(curses.ALL_MOUSE_EVENTS)
    curses.mouseinterval(0)
    stdscr.idlok(True)
    stdscr.scrollok(True)
    rows, cols = stdscr.getmaxyx()
    body = rows - title - footer
    first = total - body if start == "end" else 0

    def line(i):
        return ("line %04d of the titled page" % (i + 1)).ljust(cols - 1)[: cols - 1]

    def note():
        with open(info + ".tmp", "w") as f:
            f.write("%d\n" % (first + 1))
        os.replace(info + ".tmp", info)

    def band(row, text):
        stdscr.addstr(row, 0, text.ljust(cols - 1), curses.A_REVERSE)

    for r in range(title):
        band(r, "TITLE %d stays at the top" % (r + 1))
    for r in range(footer):
        band(rows - footer + r, "STATUS %d stays at the bottom" % (r + 1))
    for r in range(body):
        stdscr.addstr(title + r, 0, line(first + r))
    stdscr.setscrreg(title, title + body - 1)
    stdscr.refresh()
    note()
    while True:
        ch = stdscr.getch()
        if ch == ord("q"):
            return
        if ch != curses.KEY_MOUSE:
            continue
        try:
            state = curses.getmouse()[4]
        except curses.error:
            continue
        step = click if state & curses.BUTTON5_PRESSED else -click if state & curses.BUTTON4_PRESSED else 0
        step = max(-first, min(step, total - body - first))
        parts = [step] if not each else [1 if step > 0 else -1] * abs(step)
        for part in parts:
            first += part
            stdscr.scroll(part)
            coming = range(body - part, body) if part > 0 else range(0, -part)
            for r in coming:
                stdscr.addstr(title + r, 0, line(first + r))
            stdscr.refresh()
        if step:
            note()


if __name__ == "__main__":
    total, title, footer, click = (int(a) for a in sys.argv[1:5])
    start = sys.argv[6] if len(sys.argv) > 6 else "top"
    each = len(sys.argv) > 7 and sys.argv[7] == "each"
    curses.wrapper(main, total, title, footer, click, sys.argv[5], start, each)
