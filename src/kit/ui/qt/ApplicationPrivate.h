#pragma once
// kit-internal: the window registry the Application keeps so activate/hide,
// the activation policy and windows() can reach every kit window's widget.
#include <QApplication>
#include <QWidget>

#include "kit/base/Geometry.h"
#include "kit/ui/Application.h"

namespace kit::qt {

void registerWindow(Window* window, QWidget* widget);
// Makes sure the window-level input filter (monitors, key equivalents) runs.
void installInputFilter();
void unregisterWindow(Window* window);
// Marks a top-level widget for the taskbar or not, as the activation policy says.
void applyTaskbarPresence(QWidget* widget);
// Sets or clears one _NET_WM_STATE atom on a mapped top-level (no-op off X11).
void setNetWmState(QWidget* widget, const char* atomName, bool on);
// Puts a mapped top-level on every virtual desktop, or back on the current one.
void setOnAllDesktops(QWidget* widget, bool on);
// Adds the proportions `aspect` (width, height; empty: none) to a top-level's
// size hints, so the window manager keeps them while the user resizes. Qt
// writes the size hints anew with every geometry change: call it after.
void setAspectHint(QWidget* widget, Size aspect);
// Asks the window manager to activate a mapped top-level as a pager would.
void requestActivation(QWidget* widget);
// Whether the desktop's input focus is on a top-level: a grab (a hot key held
// down, a menu of ours) leaves it there while the toolkit calls the window
// inactive. Off X11, the toolkit's word.
bool holdsInputFocus(QWidget* widget);
// Has the application's style read its standard icons when they are first
// drawn, not when widgets are made.
void deferStandardIcons(QApplication* app);

}  // namespace kit::qt
