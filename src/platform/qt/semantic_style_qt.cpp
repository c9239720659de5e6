#include "platform/qt/semantic_style_qt.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>

#include <cmath>

namespace platform::ui::detail {
namespace {

bool darkAppearance() { return QGuiApplication::palette().color(QPalette::Window).lightness() < 128; }

}  // namespace

QString qs(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
QColor resolve(SemanticColor color) {
  const QPalette palette = QGuiApplication::palette();
  const bool dark = darkAppearance();
  switch (color) {
    case SemanticColor::label:
      return palette.color(QPalette::WindowText);
    case SemanticColor::secondaryLabel: {
      QColor text = palette.color(QPalette::WindowText);
      text.setAlphaF(dark ? 0.55f : 0.5f);
      return text;
    }
    case SemanticColor::link:
      return dark ? QColor(0x41, 0x9C, 0xFF) : QColor(0x00, 0x68, 0xDA);
    case SemanticColor::windowBackground:
      return palette.color(QPalette::Window);
    case SemanticColor::systemRed:
      return dark ? QColor(0xFF, 0x45, 0x3A) : QColor(0xFF, 0x3B, 0x30);
    case SemanticColor::systemGreen:
      return dark ? QColor(0x30, 0xD1, 0x58) : QColor(0x28, 0xA7, 0x45);
    case SemanticColor::systemBlue:
      return dark ? QColor(0x0A, 0x84, 0xFF) : QColor(0x00, 0x7A, 0xFF);
    case SemanticColor::systemOrange:
      return dark ? QColor(0xFF, 0x9F, 0x0A) : QColor(0xF0, 0x8A, 0x00);
  }
  return palette.color(QPalette::WindowText);
}

QFont makeFont(Font font) {
  QFont made = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
#if !defined(__APPLE__)
  // Chinese first, so that the window's texts come from one CJK face rather than a Latin face with fallbacks.
  made.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans SC"), made.family()});
#endif
  made.setPixelSize(static_cast<int>(std::lround(font.size)));
  switch (font.weight) {
    case FontWeight::regular:
      made.setWeight(QFont::Normal);
      break;
    case FontWeight::medium:
      made.setWeight(QFont::Medium);
      break;
    case FontWeight::semibold:
      made.setWeight(QFont::DemiBold);
      break;
    case FontWeight::bold:
      made.setWeight(QFont::Bold);
      break;
  }
  return made;
}

}  // namespace platform::ui::detail
