// The layout of vertical stacks, and the plain view that fills the room a stack leaves over. For the Qt
// implementation files of the window layer only.
#pragma once

#include <QLayout>
#include <QWidget>

#include <algorithm>
#include <vector>

namespace platform::ui::detail {

// A plain view: no content, no size of its own, so that it takes up the room that its stack leaves over.
class PlainView final : public QWidget {
 public:
  PlainView() { setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding); }
  QSize sizeHint() const override { return {0, 0}; }
  QSize minimumSizeHint() const override { return {0, 0}; }
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

  explicit ColumnLayout(QWidget* parent) : QLayout(parent) { setContentsMargins(0, 0, 0, 0); }
  ~ColumnLayout() override {
    while (QLayoutItem* item = takeAt(0)) delete item;
  }

  void addItem(QLayoutItem* item) override { entries_.push_back({item, kRequired}); }
  int count() const override { return static_cast<int>(entries_.size()); }
  QLayoutItem* itemAt(int index) const override {
    return index >= 0 && index < count() ? entries_[static_cast<size_t>(index)].item : nullptr;
  }
  QLayoutItem* takeAt(int index) override {
    if (index < 0 || index >= count()) return nullptr;
    QLayoutItem* item = entries_[static_cast<size_t>(index)].item;
    entries_.erase(entries_.begin() + index);
    return item;
  }
  Qt::Orientations expandingDirections() const override { return Qt::Vertical | Qt::Horizontal; }
  void setPriority(QWidget* widget, int priority) {
    for (Entry& entry : entries_) {
      if (entry.item->widget() == widget) entry.priority = priority;
    }
    invalidate();
  }
  void setLeading(bool leading) {
    leading_ = leading;
    invalidate();
  }

  QSize sizeHint() const override {
    int width = 0;
    for (const Entry& entry : entries_) {
      if (!entry.item->isEmpty()) width = std::max(width, entry.item->sizeHint().width());
    }
    return {width, heightForWidth(width)};
  }
  QSize minimumSize() const override {
    int width = 0, height = 0, shown = 0;
    for (const Entry& entry : entries_) {
      if (entry.item->isEmpty() || entry.priority < kRequired) continue;
      width = std::max(width, entry.item->minimumSize().width());
      height += entry.item->minimumSize().height();
      ++shown;
    }
    return {width, height + std::max(0, shown - 1) * spacing()};
  }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override {
    int height = 0, shown = 0;
    for (const Entry& entry : entries_) {
      if (entry.item->isEmpty()) continue;
      height += preferredHeight(entry.item, itemWidth(entry.item, width));
      ++shown;
    }
    return height + std::max(0, shown - 1) * spacing();
  }

  void setGeometry(const QRect& rect) override {
    QLayout::setGeometry(rect);
    struct Placed {
      QLayoutItem* item;
      int priority;
      int width;
      int height;
      bool filler;
      bool detached = false;
    };
    std::vector<Placed> placed;
    for (const Entry& entry : entries_) {
      if (entry.item->isEmpty()) continue;
      int width = itemWidth(entry.item, rect.width());
      bool filler = isFiller(entry.item);
      placed.push_back({entry.item, entry.priority, width, filler ? 0 : preferredHeight(entry.item, width), filler});
    }
    auto total = [&] {
      int height = 0, shown = 0;
      for (const Placed& p : placed) {
        if (p.detached) continue;
        height += p.height;
        ++shown;
      }
      return height + std::max(0, shown - 1) * spacing();
    };
    // Detach the least wanted items first, then let compressible ones give height.
    while (total() > rect.height()) {
      Placed* least = nullptr;
      for (Placed& p : placed) {
        if (!p.detached && p.priority < kRequired && (!least || p.priority < least->priority)) least = &p;
      }
      if (!least) break;
      least->detached = true;
    }
    for (Placed& p : placed) {
      int excess = total() - rect.height();
      if (excess <= 0) break;
      if (p.detached || p.filler) continue;
      QWidget* widget = p.item->widget();
      if (!widget || !widget->property(kCompressibleProperty).toBool()) continue;
      int minimum = std::max(widget->minimumSizeHint().height(), widget->minimumHeight());
      p.height -= std::min(excess, std::max(0, p.height - minimum));
    }
    int fillers = 0;
    for (const Placed& p : placed) fillers += (p.filler && !p.detached);
    int spare = std::max(0, rect.height() - total());
    int y = rect.top();
    for (Placed& p : placed) {
      if (p.detached) {
        p.item->setGeometry(QRect(rect.left(), y, 0, 0));
        continue;
      }
      int height = p.height;
      if (p.filler && fillers > 0) {
        height = spare / fillers;
        spare -= height;
        --fillers;
      }
      p.item->setGeometry(QRect(rect.left(), y, p.width, height));
      y += height + spacing();
    }
  }

 private:
  struct Entry {
    QLayoutItem* item;
    int priority;
  };
  static bool isFiller(QLayoutItem* item) {
    QWidget* widget = item->widget();
    return widget && widget->sizePolicy().verticalPolicy() == QSizePolicy::Expanding && !widget->layout();
  }
  int itemWidth(QLayoutItem* item, int available) const {
    if (!leading_) return available;
    return std::min(available, std::max(item->sizeHint().width(), item->minimumSize().width()));
  }
  // An item's height at `width`, never below the least height it accepts (a button fixed at 36 points hints 29).
  static int preferredHeight(QLayoutItem* item, int width) {
    if (item->hasHeightForWidth()) return item->heightForWidth(width);
    return isFiller(item) ? 0 : std::max(item->sizeHint().height(), item->minimumSize().height());
  }

  std::vector<Entry> entries_;
  bool leading_ = false;
};

}  // namespace platform::ui::detail
