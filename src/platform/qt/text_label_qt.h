// The label behind `Label`: plain text only, at most a given number of lines, and never more text kept than
// those lines can show. For the Qt implementation files of the window layer only.
#pragma once

#include <QLabel>
#include <QString>
#include <QTextLayout>

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
  explicit TextLabel(bool wraps);

  void setFullText(const QString& text);
  void setColor(SemanticColor color);
  // Lets the user select the text with the mouse or the keyboard and copy it. What is copied is the whole
  // text as it was set (up to kCopyKeep), not only the lines that show, whenever the selection takes in all
  // that shows; a part of it gives that part.
  void setSelectable(bool selectable);
  void selectAll();
  // What a copy takes now: the selection as described above, or everything when nothing is selected.
  QString textToCopy() const;
  void setLink(const QString& url);
  void setMaxLines(int lines);
  void setWraps(bool wraps);
  void setTruncatesTail(bool truncates);
  void setLabelFont(const QFont& font);

  bool hasHeightForWidth() const override;
  int heightForWidth(int width) const override;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  // The position in the shown text nearest to `point`, for selecting with the mouse.
  qsizetype positionAt(QPoint point) const;
  // Where the last line that shows ends in the text: a selection from the start to there takes in all that shows.
  qsizetype shownEnd() const;
  // How many of the laid-out lines show: no more than the limit, and only whole lines of the height given.
  int shownLines(const QTextLayout& layout) const;
  // Keeps at most `size` UTF-16 units of `text`, never half of a surrogate pair.
  static void truncateWhole(QString& text, qsizetype size);
  QString displayText() const;
  int lineHeight() const;
  int naturalWidth() const;
  // Lays the text out in lines of `width`, stopping after the last line that can show.
  void layOut(QTextLayout& layout, int width) const;
  int linesFor(int width) const;
  void changed();

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
