// The label behind `Label`: plain text only, at most a given number of lines, and never more text kept than
// those lines can show. For the Qt implementation files of the window layer only.
#pragma once

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>
#include <QUrl>

#include "platform/qt/semantic_style_qt.h"

namespace platform::ui::detail {

// The most characters a label keeps per paragraph when its line limit is set: more than its lines can show at
// any width the window allows. Without a limit it keeps this many in all.
constexpr qsizetype kParagraphKeep = 2048;
constexpr qsizetype kUnlimitedKeep = 16384;
// The most of a text (in UTF-16 units, 64 KiB of them) that copying gives, shown or not.
constexpr qsizetype kCopyKeep = 65536;

// A label that draws at most `maxLines` lines and keeps no more text than those lines can show.
class TextLabel final : public QLabel {
 public:
  explicit TextLabel(bool wraps) : wraps_(wraps) {
    setTextFormat(Qt::PlainText);
    // Columns give a label the height its lines need at the width they give it, which may exceed its hint.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setColor(SemanticColor::label);
  }

  void setFullText(const QString& text) {
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
  void setColor(SemanticColor color) {
    color_ = color;
    setProperty("semanticColor", QString::fromLatin1(colorName(color)));
    update();
  }
  // Lets the user select the text with the mouse or the keyboard and copy it. What is copied is the whole
  // text as it was set (up to kCopyKeep), not only the lines that show, whenever the selection takes in all
  // that shows; a part of it gives that part.
  void setSelectable(bool selectable) {
    selectable_ = selectable;
    setFocusPolicy(selectable ? Qt::ClickFocus : Qt::NoFocus);
    setCursor(selectable ? Qt::IBeamCursor : Qt::ArrowCursor);
  }
  void selectAll() {
    selectionStart_ = 0;
    selectionEnd_ = text().size();
    update();
  }
  // What a copy takes now: the selection as described above, or everything when nothing is selected.
  QString textToCopy() const {
    qsizetype start = std::min(selectionStart_, selectionEnd_), end = std::max(selectionStart_, selectionEnd_);
    if (start == end || (start == 0 && end >= shownEnd())) return copyText_;
    return text().mid(start, end - start);
  }
  void setLink(const QString& url) {
    url_ = url;
    setCursor(Qt::PointingHandCursor);
  }
  void setMaxLines(int lines) {
    maxLines_ = lines;
    setFullText(full_);
  }
  void setWraps(bool wraps) {
    wraps_ = wraps;
    changed();
  }
  void setTruncatesTail(bool truncates) {
    truncates_ = truncates;
    changed();
  }
  void setLabelFont(const QFont& font) {
    setFont(font);
    changed();
  }

  bool hasHeightForWidth() const override { return wraps_; }
  int heightForWidth(int width) const override { return linesFor(width) * lineHeight(); }
  QSize sizeHint() const override {
    int width = naturalWidth();
    return {width, wraps_ ? heightForWidth(width) : lineHeight()};
  }
  QSize minimumSizeHint() const override {
    if (wraps_ || truncates_) return {std::min(naturalWidth(), 40), lineHeight()};
    return sizeHint();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
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
  void mousePressEvent(QMouseEvent* event) override {
    if (selectable_ && event->button() == Qt::LeftButton) {
      selectionStart_ = selectionEnd_ = positionAt(event->position().toPoint());
      update();
    }
    QLabel::mousePressEvent(event);
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (selectable_ && (event->buttons() & Qt::LeftButton)) {
      selectionEnd_ = positionAt(event->position().toPoint());
      update();
    }
    QLabel::mouseMoveEvent(event);
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    if (selectable_) selectAll();
    QLabel::mouseDoubleClickEvent(event);
  }
  void keyPressEvent(QKeyEvent* event) override {
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
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (!url_.isEmpty() && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
      QDesktopServices::openUrl(QUrl(url_));
    }
    QLabel::mouseReleaseEvent(event);
  }

 private:
  // The position in the shown text nearest to `point`, for selecting with the mouse.
  qsizetype positionAt(QPoint point) const {
    if (!wraps_) return 0;
    QTextLayout layout(displayText(), font());
    layOut(layout, width());
    if (layout.lineCount() == 0) return 0;
    int index = std::clamp(point.y() / std::max(1, lineHeight()), 0, layout.lineCount() - 1);
    if (point.y() >= layout.lineCount() * lineHeight()) return text().size();  // below the last line: its end
    return layout.lineAt(index).xToCursor(point.x());
  }
  // Where the last line that shows ends in the text: a selection from the start to there takes in all that shows.
  qsizetype shownEnd() const {
    if (!wraps_) return text().size();
    QTextLayout layout(displayText(), font());
    layOut(layout, width());
    const int shown = shownLines(layout);
    if (shown == 0) return text().size();
    const QTextLine last = layout.lineAt(shown - 1);
    return last.textStart() + last.textLength();
  }
  // How many of the laid-out lines show: no more than the limit, and only whole lines of the height given.
  int shownLines(const QTextLayout& layout) const {
    int shown = 0;
    while (shown < layout.lineCount() && (maxLines_ == 0 || shown < maxLines_)) {
      if (shown > 0 && (shown + 1) * lineHeight() > height()) break;
      ++shown;
    }
    return shown;
  }
  // Keeps at most `size` UTF-16 units of `text`, never half of a surrogate pair.
  static void truncateWhole(QString& text, qsizetype size) {
    if (text.size() <= size) return;
    text.truncate(size > 0 && text.at(size - 1).isHighSurrogate() ? size - 1 : size);
  }
  QString displayText() const {
    QString shown = text();
    shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
    return shown;
  }
  int lineHeight() const { return QFontMetrics(font()).lineSpacing(); }
  int naturalWidth() const {
    const QFontMetrics metrics(font());
    int widest = 0;
    for (const QString& paragraph : displayText().split(QChar::LineSeparator)) {
      widest = std::max(widest, metrics.horizontalAdvance(paragraph.left(512)));
    }
    return std::min(widest + 1, 4096);
  }
  // Lays the text out in lines of `width`, stopping after the last line that can show.
  void layOut(QTextLayout& layout, int width) const {
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
  int linesFor(int width) const {
    if (text().isEmpty()) return 1;
    if (width == cachedWidth_) return cachedLines_;
    QTextLayout layout(displayText(), font());
    layOut(layout, width);
    cachedWidth_ = width;
    cachedLines_ = std::max(1, layout.lineCount());
    return cachedLines_;
  }
  void changed() {
    cachedWidth_ = -1;
    updateGeometry();
    update();
  }

  bool wraps_;
  bool truncates_ = false;
  bool selectable_ = false;
  qsizetype selectionStart_ = 0;
  qsizetype selectionEnd_ = 0;
  QString copyText_;
  int maxLines_ = 0;
  SemanticColor color_ = SemanticColor::label;
  QString full_;
  QString url_;
  mutable int cachedWidth_ = -1;
  mutable int cachedLines_ = 1;
};

}  // namespace platform::ui::detail
