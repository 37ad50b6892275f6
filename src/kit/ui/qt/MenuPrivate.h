#pragma once
// kit-internal: the Qt objects behind Menu and MenuItem, and the icon bridge
// the tray and menus share.
#include <QAction>
#include <QIcon>
#include <QMenu>
#include <memory>

#include "kit/base/Image.h"
#include "kit/ui/Menu.h"

namespace kit::qt {

QIcon iconFromImage(const Image& image);
QMenu* qmenu(Menu& menu);
QAction* qaction(MenuItem& item);

}  // namespace kit::qt
