#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTranslator>
#include <QUrl>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/qt/column_layout_qt.h"
#include "platform/qt/spinner_qt.h"
#include "platform/qt/text_label_qt.h"
#include "platform/qt/window.h"

namespace platform::ui {
namespace {

using detail::ColumnLayout;
using detail::kCompressibleProperty;
using detail::makeFont;
using detail::PlainView;
using detail::qs;
using detail::resolve;
using detail::Spinner;
using detail::TextLabel;

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
  // Wrapping labels can be selected and copied, by mouse, keyboard or context menu.
  widget->setSelectable(true);
  widget->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* copy = new QAction(QStringLiteral("拷贝"), widget);
  copy->setObjectName(QStringLiteral("copyAction"));
  QObject::connect(copy, &QAction::triggered, widget,
                   [widget] { QApplication::clipboard()->setText(widget->textToCopy()); });
  auto* selectAll = new QAction(QStringLiteral("全选"), widget);
  QObject::connect(selectAll, &QAction::triggered, widget, [widget] { widget->selectAll(); });
  widget->addAction(copy);
  widget->addAction(selectAll);
  return std::unique_ptr<Label>(new Label(widget));
}

void Label::addMenuAction(const std::string& title, const std::string& name, std::function<void()> action) {
  QWidget* widget = textLabel(*this);
  auto* item = new QAction(qs(title), widget);
  item->setObjectName(qs(name));
  QObject::connect(item, &QAction::triggered, widget, [action = std::move(action)] { action(); });
  widget->addAction(item);
}

void showInFileManager(const Path& file) {
  // The folder that holds it: file managers open folders everywhere, while selecting a file is not portable.
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.parent_path().string())));
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
  widget->setWindowState(widget->windowState() & ~Qt::WindowMinimized);
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

// Qt's own word that $XDG_RUNTIME_DIR is missing (sudo, some remote sessions) goes nowhere: the launcher keeps its
// socket in a private folder of its own and says in its log where it cannot. Every other message passes on.
QtMessageHandler qtMessages = nullptr;
void withoutRuntimeFolderWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith(QLatin1String("QStandardPaths: "))) return;
  if (qtMessages) qtMessages(type, context, message);
}

Application::Application() {
  qtMessages = qInstallMessageHandler(withoutRuntimeFolderWarnings);
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

void adoptBundleResources(const Path& resourceDirectory, const std::string& identifier) {
  const QDir resources(QString::fromStdString(resourceDirectory.string()));
  QIcon icon;
  const QDir icons(resources.filePath(QStringLiteral("icons")));
  for (const QString& file : icons.entryList({QStringLiteral("*.png")}, QDir::Files))
    icon.addFile(icons.filePath(file));
  if (!icon.isNull()) QApplication::setWindowIcon(icon);

  static QTranslator translator;  // lives as long as the application
  if (translator.load(QStringLiteral("qtbase_zh_CN"), resources.filePath(QStringLiteral("translations"))) ||
      translator.load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(&translator);
  }
  QGuiApplication::setDesktopFileName(QString::fromStdString(identifier));
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
