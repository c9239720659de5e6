// The layout of vertical stacks, and the plain view that fills the room a stack leaves over. For the Qt
// implementation files of the window layer only.
#pragma once

#include <QLayout>
#include <QWidget>

#include <vector>

namespace platform::ui::detail {

// A plain view: no content, no size of its own, so that it takes up the room that its stack leaves over.
class PlainView final : public QWidget {
 public:
  PlainView();
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
};

constexpr const char* kCompressibleProperty = "launcherCompressible";

// A vertical stack. Items are laid out top to bottom at their preferred heights (height for width where they
// have one), each as wide as the column or, when aligned leading, as wide as it likes up to the column's width.
// Plain views with no size of their own share the room left over. When the items do not fit, those with the
// lowest visibility priority are detached (laid out with no size, so they draw nothing) until the rest fit,
// and then compressible items give height down to their minimum.
class ColumnLayout final : public QLayout {
 public:
  static constexpr int kRequired = 1000;

  explicit ColumnLayout(QWidget* parent);
  ~ColumnLayout() override;

  void addItem(QLayoutItem* item) override;
  int count() const override;
  QLayoutItem* itemAt(int index) const override;
  QLayoutItem* takeAt(int index) override;
  Qt::Orientations expandingDirections() const override;
  void setPriority(QWidget* widget, int priority);
  void setLeading(bool leading);

  QSize sizeHint() const override;
  QSize minimumSize() const override;
  bool hasHeightForWidth() const override;
  int heightForWidth(int width) const override;

  void setGeometry(const QRect& rect) override;

 private:
  struct Entry {
    QLayoutItem* item;
    int priority;
  };
  static bool isFiller(QLayoutItem* item);
  int itemWidth(QLayoutItem* item, int available) const;
  // An item's height at `width`, never below the least height it accepts (a button fixed at 36 points hints 29).
  static int preferredHeight(QLayoutItem* item, int width);

  std::vector<Entry> entries_;
  bool leading_ = false;
};

}  // namespace platform::ui::detail
