#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QClipboard>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTextLayout>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/window.h"

namespace platform::ui {
namespace {

QString qs(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

bool darkAppearance() { return QGuiApplication::palette().color(QPalette::Window).lightness() < 128; }

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
      for (QString& paragraph : paragraphs) {
        if (paragraph.size() > kParagraphKeep) paragraph.truncate(kParagraphKeep);
      }
      kept = paragraphs.join(QLatin1Char('\n'));
    } else if (kept.size() > kUnlimitedKeep) {
      kept.truncate(kUnlimitedKeep);
    }
    if (kept.size() > 0 && kept.back().isHighSurrogate()) kept.chop(1);
    full_ = text.size() == kept.size() ? text : kept;
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

// A spinning indicator drawn as twelve fading spokes; a progress bar to assistive technology.
class Spinner final : public QProgressBar {
 public:
  Spinner() {
    setRange(0, 1);
    setValue(0);
    setTextVisible(false);
    setFixedSize(32, 32);
    setAccessibleName(QStringLiteral("进度指示器"));
    setAccessibleDescription(QStringLiteral("空闲"));
    timer_.setInterval(83);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
      step_ = (step_ + 1) % 12;
      update();
    });
  }
  void setDisplayedWhenStopped(bool displayed) {
    displayedWhenStopped_ = displayed;
    update();
  }
  void start() {
    if (timer_.isActive()) return;
    setRange(0, 0);  // busy, to assistive technology
    setAccessibleDescription(QStringLiteral("正在处理"));
    timer_.start();
    update();
  }
  void stop() {
    timer_.stop();
    setRange(0, 1);
    setAccessibleDescription(QStringLiteral("空闲"));
    update();
  }
  bool animating() const { return timer_.isActive(); }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (!animating() && !displayedWhenStopped_) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    QColor spoke = resolve(SemanticColor::label);
    const double radius = std::min(width(), height()) / 2.0;
    for (int i = 0; i < 12; ++i) {
      spoke.setAlphaF(0.15f + 0.85f * static_cast<float>((i - step_ + 12) % 12) / 11.0f);
      painter.setPen(QPen(spoke, radius * 0.16, Qt::SolidLine, Qt::RoundCap));
      painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.85));
      painter.rotate(30);
    }
  }

 private:
  QTimer timer_;
  int step_ = 0;
  bool displayedWhenStopped_ = true;
};

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
  static int preferredHeight(QLayoutItem* item, int width) {
    if (item->hasHeightForWidth()) return item->heightForWidth(width);
    return isFiller(item) ? 0 : item->sizeHint().height();
  }

  std::vector<Entry> entries_;
  bool leading_ = false;
};

// A background that follows the appearance.
class BackgroundFilter final : public QObject {
 public:
  BackgroundFilter(QWidget* widget, SemanticColor color) : QObject(widget), color_(color) { apply(widget); }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::ApplicationPaletteChange) apply(static_cast<QWidget*>(watched));
    return false;
  }

 private:
  void apply(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, resolve(color_));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
  }
  SemanticColor color_;
};

}  // namespace

const char* colorName(SemanticColor color) {
  switch (color) {
    case SemanticColor::label:
      return "label";
    case SemanticColor::secondaryLabel:
      return "secondaryLabel";
    case SemanticColor::link:
      return "link";
    case SemanticColor::windowBackground:
      return "windowBackground";
    case SemanticColor::systemRed:
      return "systemRed";
    case SemanticColor::systemGreen:
      return "systemGreen";
    case SemanticColor::systemBlue:
      return "systemBlue";
    case SemanticColor::systemOrange:
      return "systemOrange";
  }
  return "";
}

unsigned colorValue(SemanticColor color) { return resolve(color).rgba(); }

// ---- View ----

struct View::Handle {
  QPointer<QWidget> widget;
};

View::View() : View(new PlainView) {}
View::View(QWidget* widget) : handle_(std::make_unique<Handle>()) { handle_->widget = widget; }
View::~View() {
  if (handle_->widget && !handle_->widget->parent()) delete handle_->widget.data();
}
QWidget* View::nativeWidget() const { return handle_->widget.data(); }
void View::setHidden(bool hidden) { nativeWidget()->setHidden(hidden); }
bool View::isHidden() const { return nativeWidget()->isHidden(); }
void View::setIdentifier(const std::string& name) { nativeWidget()->setObjectName(qs(name)); }
void View::addSubview(View& child) { child.nativeWidget()->setParent(nativeWidget()); }
void View::setBackgroundColor(SemanticColor color) {
  QWidget* widget = nativeWidget();
  widget->installEventFilter(new BackgroundFilter(widget, color));
}
void View::setCompressible(bool compressible) {
  nativeWidget()->setProperty(kCompressibleProperty, compressible);
  nativeWidget()->updateGeometry();
}

// ---- Label ----

namespace {
TextLabel* textLabel(const View& view) { return static_cast<TextLabel*>(view.nativeWidget()); }
}  // namespace

std::unique_ptr<Label> Label::plain(const std::string& text) {
  auto* widget = new TextLabel(false);
  widget->setFullText(qs(text));
  return std::unique_ptr<Label>(new Label(widget));
}

std::unique_ptr<Label> Label::wrapping(const std::string& text) {
  auto* widget = new TextLabel(true);
  widget->setFullText(qs(text));
  // Wrapping labels can be selected in the platform's own; here the whole text can be copied from the menu.
  widget->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* copy = new QAction(QStringLiteral("拷贝"), widget);
  QObject::connect(copy, &QAction::triggered, widget, [widget] { QApplication::clipboard()->setText(widget->text()); });
  widget->addAction(copy);
  return std::unique_ptr<Label>(new Label(widget));
}

std::unique_ptr<Label> Label::link(const std::string& text, const std::string& url, Font font) {
  auto* widget = new TextLabel(false);
  widget->setLabelFont(makeFont(font));
  widget->setFullText(qs(text));
  widget->setColor(SemanticColor::link);
  widget->setTruncatesTail(true);
  widget->setLink(qs(url));
  widget->setToolTip(qs(url));
  return std::unique_ptr<Label>(new Label(widget));
}

void Label::setText(const std::string& text) { textLabel(*this)->setFullText(qs(text)); }
std::string Label::text() const { return textLabel(*this)->text().toStdString(); }
void Label::setTextColor(SemanticColor color) { textLabel(*this)->setColor(color); }
void Label::setFont(Font font) { textLabel(*this)->setLabelFont(makeFont(font)); }
void Label::setMaximumNumberOfLines(int lines) { textLabel(*this)->setMaxLines(lines); }
void Label::setLineBreakMode(LineBreakMode mode) {
  textLabel(*this)->setWraps(mode == LineBreakMode::wordWrapping);
  textLabel(*this)->setTruncatesTail(mode == LineBreakMode::truncatingTail);
}

// ---- Button ----

namespace {
QPushButton* pushButton(const View& view) { return static_cast<QPushButton*>(view.nativeWidget()); }
}  // namespace

Button::Button(const std::string& title) : View(new QPushButton(qs(title))) {
  pushButton(*this)->setAutoDefault(false);
  pushButton(*this)->setFocusPolicy(Qt::StrongFocus);
}
void Button::setAction(std::function<void()> action) {
  QPushButton* button = pushButton(*this);
  QObject::disconnect(button, &QPushButton::clicked, nullptr, nullptr);
  QObject::connect(button, &QPushButton::clicked, button, [action = std::move(action)] { action(); });
}
void Button::setEnabled(bool enabled) { pushButton(*this)->setEnabled(enabled); }
bool Button::isEnabled() const { return pushButton(*this)->isEnabled(); }
void Button::setFont(Font font) { pushButton(*this)->setFont(makeFont(font)); }

// ---- ProgressIndicator ----

namespace {
Spinner* spinner(const View& view) { return static_cast<Spinner*>(view.nativeWidget()); }
}  // namespace

ProgressIndicator::ProgressIndicator() : View(new Spinner) {}
void ProgressIndicator::setDisplayedWhenStopped(bool displayed) { spinner(*this)->setDisplayedWhenStopped(displayed); }
void ProgressIndicator::startAnimation() { spinner(*this)->start(); }
void ProgressIndicator::stopAnimation() { spinner(*this)->stop(); }
bool ProgressIndicator::isAnimating() const { return spinner(*this)->animating(); }

// ---- StackView ----

StackView::StackView(const std::vector<View*>& arranged, Orientation orientation) : View(new QWidget) {
  QWidget* container = nativeWidget();
  QLayout* layout;
  if (orientation == Orientation::vertical) {
    layout = new ColumnLayout(container);
  } else {
    layout = new QBoxLayout(QBoxLayout::LeftToRight, container);
    layout->setContentsMargins(0, 0, 0, 0);
  }
  layout->setSpacing(8);
  for (View* view : arranged) {
    layout->addWidget(view->nativeWidget());
    arranged_.push_back(view->nativeWidget());
  }
}

void StackView::setVisibilityPriority(View& view, int priority) {
  if (auto* column = dynamic_cast<ColumnLayout*>(nativeWidget()->layout())) {
    column->setPriority(view.nativeWidget(), priority);
  }
}

void StackView::setAlignment(StackAlignment alignment) {
  if (auto* column = dynamic_cast<ColumnLayout*>(nativeWidget()->layout())) {
    column->setLeading(alignment == StackAlignment::leading);
    return;
  }
  auto* layout = static_cast<QBoxLayout*>(nativeWidget()->layout());
  Qt::Alignment align = alignment == StackAlignment::leading   ? Qt::AlignLeft
                        : alignment == StackAlignment::centerY ? Qt::AlignVCenter
                                                               : Qt::Alignment();
  for (QWidget* widget : arranged_) layout->setAlignment(widget, align);
}

void StackView::setSpacing(double spacing) {
  nativeWidget()->layout()->setSpacing(static_cast<int>(std::lround(spacing)));
}

void StackView::setDistribution(StackDistribution distribution) {
  auto* layout = dynamic_cast<QBoxLayout*>(nativeWidget()->layout());
  if (!layout || distribution != StackDistribution::fillEqually) return;
  int widest = 0;
  for (QWidget* widget : arranged_) widest = std::max(widest, widget->sizeHint().width());
  for (QWidget* widget : arranged_) {
    widget->setMinimumWidth(widest);
    layout->setStretchFactor(widget, 1);
  }
}

// ---- Constraints ----

void activateConstraints(const std::vector<Constraint>& constraints) {
  for (const Constraint& constraint : constraints) {
    QWidget* first = constraint.first->nativeWidget();
    const int constant = static_cast<int>(std::lround(constraint.constant));
    if (!constraint.second) {
      if (constraint.anchor == Anchor::height) first->setFixedHeight(constant);
      if (constraint.anchor == Anchor::width) first->setFixedWidth(constant);
      continue;
    }
    // An edge pinned to its superview's edge: the superview lays the view out with that margin.
    QWidget* super = constraint.second->nativeWidget();
    auto* layout = static_cast<QBoxLayout*>(super->layout());
    if (!layout) {
      layout = new QVBoxLayout(super);
      layout->setContentsMargins(0, 0, 0, 0);
      layout->addWidget(first);
    }
    QMargins margins = layout->contentsMargins();
    switch (constraint.anchor) {
      case Anchor::leading:
        margins.setLeft(constant);
        break;
      case Anchor::trailing:
        margins.setRight(-constant);
        break;
      case Anchor::top:
        margins.setTop(constant);
        break;
      case Anchor::bottom:
        margins.setBottom(-constant);
        break;
      default:
        break;
    }
    layout->setContentsMargins(margins);
  }
}

// ---- Window ----

struct Window::Handle {
  QPointer<QWidget> widget;
};

Window::Window(double width, double height, Style style) : handle_(std::make_unique<Handle>()) {
  auto* widget = new QWidget(nullptr, Qt::Window);
  Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint;
  if (style.closable) flags |= Qt::WindowCloseButtonHint;
  if (style.miniaturizable) flags |= Qt::WindowMinimizeButtonHint;
  if (style.resizable) flags |= Qt::WindowMaximizeButtonHint;
  widget->setWindowFlags(flags);
  QSize size(static_cast<int>(std::lround(width)), static_cast<int>(std::lround(height)));
  if (style.resizable) {
    widget->resize(size);
  } else {
    widget->setFixedSize(size);
  }
  auto* layout = new QVBoxLayout(widget);
  layout->setContentsMargins(0, 0, 0, 0);
  handle_->widget = widget;
}

Window::~Window() { delete handle_->widget.data(); }

QWidget* Window::nativeWidget() const { return handle_->widget.data(); }

void Window::center() {
  QWidget* widget = nativeWidget();
  if (QScreen* screen = widget->screen() ? widget->screen() : QGuiApplication::primaryScreen()) {
    QRect frame(QPoint(0, 0), widget->size());
    frame.moveCenter(screen->availableGeometry().center());
    widget->move(frame.topLeft());
  }
}

void Window::setTitle(const std::string& title) { nativeWidget()->setWindowTitle(qs(title)); }

void Window::setContentView(View& content) {
  QLayout* layout = nativeWidget()->layout();
  while (QLayoutItem* item = layout->takeAt(0)) delete item;
  layout->addWidget(content.nativeWidget());
}

void Window::makeKeyAndOrderFront() {
  QWidget* widget = nativeWidget();
  widget->show();
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) widget->raise();
  widget->activateWindow();
}

bool Window::saveSnapshot(const Path& file) const {
  return nativeWidget()->grab().save(QString::fromStdString(file.string()), "PNG");
}

// ---- Application ----

Application& Application::shared() {
  static Application application;
  return application;
}

Application::Application() {
  // The launcher reads no command line: Qt gets only a program name.
  static int argc = 1;
  static char name[] = "LanqiLauncher";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);  // lives as long as the process
  QGuiApplication::setQuitOnLastWindowClosed(false);
  QObject::connect(qApp, &QGuiApplication::lastWindowClosed, qApp, [this] {
    if (delegate_ && delegate_->applicationShouldTerminateAfterLastWindowClosed()) QCoreApplication::quit();
  });
}

void Application::setDelegate(ApplicationDelegate* delegate) { delegate_ = delegate; }

void Application::setActivationPolicyRegular() {
  // Qt applications are regular applications on every platform it runs on.
}

void Application::run() {
  QTimer::singleShot(0, qApp, [this] {
    if (delegate_) delegate_->applicationDidFinishLaunching();
  });
  QApplication::exec();
}

void Application::activateIgnoringOtherApps() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (!widget->isVisible()) continue;
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) widget->raise();
    widget->activateWindow();
  }
}

void endProcess(int status) {
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace platform::ui
