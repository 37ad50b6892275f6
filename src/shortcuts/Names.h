#pragma once
// The application's ten named global shortcuts, each made once on first use
// (a name with a default stores it then, unless something is stored already).
//   fullscreen     Ctrl+Shift+1          area       Ctrl+Shift+2
//   ocr            Ctrl+Alt+Super+O      the others: none
#include <vector>

#include "shortcuts/Name.h"

namespace shortcuts::names {

const Name& fullscreen();
const Name& area();
const Name& repeatArea();
const Name& window();
const Name& anyWindow();
const Name& scrolling();
const Name& reopen();
const Name& ocr();
const Name& loadClipboard();
const Name& library();

// All ten in the order start-up binds them: fullscreen, window, anyWindow,
// area, repeatArea, scrolling, reopen, ocr, loadClipboard, library.
std::vector<Name> all();

}  // namespace shortcuts::names
