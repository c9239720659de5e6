#include "platform/qt/column_layout_qt.h"

#include <algorithm>

namespace platform::ui::detail {

PlainView::PlainView() { setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding); }

QSize PlainView::sizeHint() const { return {0, 0}; }

QSize PlainView::minimumSizeHint() const { return {0, 0}; }

ColumnLayout::ColumnLayout(QWidget* parent) : QLayout(parent) { setContentsMargins(0, 0, 0, 0); }

ColumnLayout::~ColumnLayout() {
  while (QLayoutItem* item = takeAt(0)) delete item;
}

void ColumnLayout::addItem(QLayoutItem* item) { entries_.push_back({item, kRequired}); }

int ColumnLayout::count() const { return static_cast<int>(entries_.size()); }

QLayoutItem* ColumnLayout::itemAt(int index) const {
  return index >= 0 && index < count() ? entries_[static_cast<size_t>(index)].item : nullptr;
}

QLayoutItem* ColumnLayout::takeAt(int index) {
  if (index < 0 || index >= count()) return nullptr;
  QLayoutItem* item = entries_[static_cast<size_t>(index)].item;
  entries_.erase(entries_.begin() + index);
  return item;
}

Qt::Orientations ColumnLayout::expandingDirections() const { return Qt::Vertical | Qt::Horizontal; }

void ColumnLayout::setPriority(QWidget* widget, int priority) {
  for (Entry& entry : entries_) {
    if (entry.item->widget() == widget) entry.priority = priority;
  }
  invalidate();
}

void ColumnLayout::setLeading(bool leading) {
  leading_ = leading;
  invalidate();
}

QSize ColumnLayout::sizeHint() const {
  int width = 0;
  for (const Entry& entry : entries_) {
    if (!entry.item->isEmpty()) width = std::max(width, entry.item->sizeHint().width());
  }
  return {width, heightForWidth(width)};
}

QSize ColumnLayout::minimumSize() const {
  int width = 0, height = 0, shown = 0;
  for (const Entry& entry : entries_) {
    if (entry.item->isEmpty() || entry.priority < kRequired) continue;
    width = std::max(width, entry.item->minimumSize().width());
    height += entry.item->minimumSize().height();
    ++shown;
  }
  return {width, height + std::max(0, shown - 1) * spacing()};
}

bool ColumnLayout::hasHeightForWidth() const { return true; }

int ColumnLayout::heightForWidth(int width) const {
  int height = 0, shown = 0;
  for (const Entry& entry : entries_) {
    if (entry.item->isEmpty()) continue;
    height += preferredHeight(entry.item, itemWidth(entry.item, width));
    ++shown;
  }
  return height + std::max(0, shown - 1) * spacing();
}

void ColumnLayout::setGeometry(const QRect& rect) {
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

bool ColumnLayout::isFiller(QLayoutItem* item) {
  QWidget* widget = item->widget();
  return widget && widget->sizePolicy().verticalPolicy() == QSizePolicy::Expanding && !widget->layout();
}

int ColumnLayout::itemWidth(QLayoutItem* item, int available) const {
  if (!leading_) return available;
  return std::min(available, std::max(item->sizeHint().width(), item->minimumSize().width()));
}

int ColumnLayout::preferredHeight(QLayoutItem* item, int width) {
  if (item->hasHeightForWidth()) return item->heightForWidth(width);
  return isFiller(item) ? 0 : std::max(item->sizeHint().height(), item->minimumSize().height());
}

}  // namespace platform::ui::detail
