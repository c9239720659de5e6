// The label behind `Label`: plain text only, at most a given number of lines, and never more text kept than
// those lines can show. For the Qt implementation files of the window layer only.
#pragma once

#include <QDesktopServices>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>
#include <QUrl>

#include "platform/semantic_style_qt.h"

namespace platform::ui::detail {

// The most characters a label keeps per paragraph when its line limit is set: more than its lines can show at
// any width the window allows. Without a limit it keeps this many in all.
constexpr qsizetype kParagraphKeep = 2048;
constexpr qsizetype kUnlimitedKeep = 16384;

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
    QString kept = text;
    if (maxLines_ > 0) {
      QStringList paragraphs = text.split(QLatin1Char('\n'));
      if (paragraphs.size() > maxLines_) paragraphs.resize(maxLines_);
      for (QString& paragraph : paragraphs) truncateWhole(paragraph, kParagraphKeep);
      kept = paragraphs.join(QLatin1Char('\n'));
    } else {
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
    for (int i = 0; i < layout.lineCount() && (maxLines_ == 0 || i < maxLines_); ++i) {
      if (i > 0 && (i + 1) * lineHeight() > height()) break;  // only whole lines when the column gave height
      layout.lineAt(i).draw(&painter, QPointF(0, 0));
    }
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (!url_.isEmpty() && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
      QDesktopServices::openUrl(QUrl(url_));
    }
    QLabel::mouseReleaseEvent(event);
  }

 private:
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
  int maxLines_ = 0;
  SemanticColor color_ = SemanticColor::label;
  QString full_;
  QString url_;
  mutable int cachedWidth_ = -1;
  mutable int cachedLines_ = 1;
};

}  // namespace platform::ui::detail
