// Colours and fonts of the window system: the named semantic colours under the current appearance, and the
// system font at a size and weight. For the Qt implementation files of the window layer only, and for the
// idle-memory bench's baseline window, which must load the same faces.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <string>

#include "platform/qt/window.h"

namespace platform::ui::detail {

QString qs(const std::string& text);
QColor resolve(SemanticColor color);
QFont makeFont(Font font);

}  // namespace platform::ui::detail
