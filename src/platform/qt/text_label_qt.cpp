#include "platform/qt/text_label_qt.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

#include <algorithm>

namespace platform::ui::detail {

TextLabel::TextLabel(bool wraps) : wraps_(wraps) {
  setTextFormat(Qt::PlainText);
  // Columns give a label the height its lines need at the width they give it, which may exceed its hint.
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  setColor(SemanticColor::label);
}

void TextLabel::setFullText(const QString& text) {
  copyText_ = text;
  truncateWhole(copyText_, kCopyKeep);
  selectionStart_ = selectionEnd_ = 0;
  QString kept;
  if (maxLines_ > 0) {
    // The first lines only, each shortened as it is taken: a text of millions of lines is never split whole.
    QStringList paragraphs;
    for (qsizetype at = 0; paragraphs.size() < maxLines_;) {
      const qsizetype newline = text.indexOf(QLatin1Char('\n'), at);
      const qsizetype end = newline < 0 ? text.size() : newline;
      QString paragraph = QStringView(text).mid(at, std::min(end - at, kParagraphKeep + 1)).toString();
      truncateWhole(paragraph, kParagraphKeep);
      paragraphs << paragraph;
      if (newline < 0) break;
      at = newline + 1;
    }
    kept = paragraphs.join(QLatin1Char('\n'));
  } else {
    kept = text;
    truncateWhole(kept, kUnlimitedKeep);
  }
  full_ = kept;
  setText(kept);
  changed();
}

void TextLabel::setColor(SemanticColor color) {
  color_ = color;
  setProperty("semanticColor", QString::fromLatin1(colorName(color)));
  update();
}

void TextLabel::setSelectable(bool selectable) {
  selectable_ = selectable;
  setFocusPolicy(selectable ? Qt::ClickFocus : Qt::NoFocus);
  setCursor(selectable ? Qt::IBeamCursor : Qt::ArrowCursor);
}

void TextLabel::selectAll() {
  selectionStart_ = 0;
  selectionEnd_ = text().size();
  update();
}

QString TextLabel::textToCopy() const {
  qsizetype start = std::min(selectionStart_, selectionEnd_), end = std::max(selectionStart_, selectionEnd_);
  if (start == end || (start == 0 && end >= shownEnd())) return copyText_;
  return text().mid(start, end - start);
}

void TextLabel::setLink(const QString& url) {
  url_ = url;
  setCursor(Qt::PointingHandCursor);
}

void TextLabel::setMaxLines(int lines) {
  maxLines_ = lines;
  setFullText(full_);
}

void TextLabel::setWraps(bool wraps) {
  wraps_ = wraps;
  changed();
}

void TextLabel::setTruncatesTail(bool truncates) {
  truncates_ = truncates;
  changed();
}

void TextLabel::setLabelFont(const QFont& font) {
  setFont(font);
  changed();
}

bool TextLabel::hasHeightForWidth() const { return wraps_; }

int TextLabel::heightForWidth(int width) const { return linesFor(width) * lineHeight(); }

QSize TextLabel::sizeHint() const {
  int width = naturalWidth();
  return {width, wraps_ ? heightForWidth(width) : lineHeight()};
}

QSize TextLabel::minimumSizeHint() const {
  if (wraps_ || truncates_) return {std::min(naturalWidth(), 40), lineHeight()};
  return sizeHint();
}

void TextLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setFont(font());
  painter.setPen(resolve(color_));
  const QFontMetrics metrics(font());
  if (!wraps_) {
    QString line = displayText().section(QChar::LineSeparator, 0, 0);
    if (truncates_) line = metrics.elidedText(line, Qt::ElideRight, width());
    painter.drawText(QPoint(0, metrics.ascent()), line);
    if (!url_.isEmpty()) {
      int y = metrics.ascent() + metrics.underlinePos();
      painter.drawLine(0, y, std::min(width(), metrics.horizontalAdvance(line)), y);
    }
    return;
  }
  QTextLayout layout(displayText(), font());
  layOut(layout, width());
  QTextLayout::FormatRange selection;
  selection.start = static_cast<int>(std::min(selectionStart_, selectionEnd_));
  selection.length = static_cast<int>(std::abs(selectionEnd_ - selectionStart_));
  selection.format.setBackground(palette().brush(QPalette::Highlight));
  selection.format.setForeground(palette().brush(QPalette::HighlightedText));
  const int shown = shownLines(layout);
  QList<QTextLayout::FormatRange> selections;
  if (selection.length > 0) selections << selection;
  layout.draw(&painter, QPointF(0, 0), selections, QRectF(0, 0, width(), shown * lineHeight()));
}

void TextLabel::mousePressEvent(QMouseEvent* event) {
  if (selectable_ && event->button() == Qt::LeftButton) {
    selectionStart_ = selectionEnd_ = positionAt(event->position().toPoint());
    update();
  }
  QLabel::mousePressEvent(event);
}

void TextLabel::mouseMoveEvent(QMouseEvent* event) {
  if (selectable_ && (event->buttons() & Qt::LeftButton)) {
    selectionEnd_ = positionAt(event->position().toPoint());
    update();
  }
  QLabel::mouseMoveEvent(event);
}

void TextLabel::mouseDoubleClickEvent(QMouseEvent* event) {
  if (selectable_) selectAll();
  QLabel::mouseDoubleClickEvent(event);
}

void TextLabel::keyPressEvent(QKeyEvent* event) {
  if (selectable_ && event->matches(QKeySequence::SelectAll)) {
    selectAll();
    return;
  }
  if (selectable_ && event->matches(QKeySequence::Copy)) {
    QGuiApplication::clipboard()->setText(textToCopy());
    return;
  }
  QLabel::keyPressEvent(event);
}

void TextLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (!url_.isEmpty() && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    QDesktopServices::openUrl(QUrl(url_));
  }
  QLabel::mouseReleaseEvent(event);
}

qsizetype TextLabel::positionAt(QPoint point) const {
  if (!wraps_) return 0;
  QTextLayout layout(displayText(), font());
  layOut(layout, width());
  if (layout.lineCount() == 0) return 0;
  int index = std::clamp(point.y() / std::max(1, lineHeight()), 0, layout.lineCount() - 1);
  if (point.y() >= layout.lineCount() * lineHeight()) return text().size();  // below the last line: its end
  return layout.lineAt(index).xToCursor(point.x());
}

qsizetype TextLabel::shownEnd() const {
  if (!wraps_) return text().size();
  QTextLayout layout(displayText(), font());
  layOut(layout, width());
  const int shown = shownLines(layout);
  if (shown == 0) return text().size();
  const QTextLine last = layout.lineAt(shown - 1);
  return last.textStart() + last.textLength();
}

int TextLabel::shownLines(const QTextLayout& layout) const {
  int shown = 0;
  while (shown < layout.lineCount() && (maxLines_ == 0 || shown < maxLines_)) {
    if (shown > 0 && (shown + 1) * lineHeight() > height()) break;
    ++shown;
  }
  return shown;
}

void TextLabel::truncateWhole(QString& text, qsizetype size) {
  if (text.size() <= size) return;
  text.truncate(size > 0 && text.at(size - 1).isHighSurrogate() ? size - 1 : size);
}

QString TextLabel::displayText() const {
  QString shown = text();
  shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
  return shown;
}

int TextLabel::lineHeight() const { return QFontMetrics(font()).lineSpacing(); }

int TextLabel::naturalWidth() const {
  const QFontMetrics metrics(font());
  int widest = 0;
  for (const QString& paragraph : displayText().split(QChar::LineSeparator)) {
    widest = std::max(widest, metrics.horizontalAdvance(paragraph.left(512)));
  }
  return std::min(widest + 1, 4096);
}

void TextLabel::layOut(QTextLayout& layout, int width) const {
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
  qreal y = 0;
  for (int count = 0; maxLines_ == 0 || count < maxLines_; ++count) {
    QTextLine line = layout.createLine();
    if (!line.isValid()) break;
    line.setLineWidth(std::max(width, 1));
    line.setPosition(QPointF(0, y));
    y += lineHeight();
  }
  layout.endLayout();
}

int TextLabel::linesFor(int width) const {
  if (text().isEmpty()) return 1;
  if (width == cachedWidth_) return cachedLines_;
  QTextLayout layout(displayText(), font());
  layOut(layout, width);
  cachedWidth_ = width;
  cachedLines_ = std::max(1, layout.lineCount());
  return cachedLines_;
}

void TextLabel::changed() {
  cachedWidth_ = -1;
  updateGeometry();
  update();
}

}  // namespace platform::ui::detail
