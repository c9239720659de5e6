// The window system: application, window, views, labels, buttons, the spinning progress indicator, stacks,
// constraints, fonts and named semantic colours. Backed by Qt Widgets; nothing outside platform/ sees Qt.
//
// Every function here must be called on the main thread. Views form a tree: once a view is added to another
// (by `addSubview`, a stack or a window), its parent owns the native control, and the wrapper object may be
// dropped. A wrapper that is dropped while its control has no parent deletes the control. A `Window` wrapper
// owns its window and everything in it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/system/fs.h"

class QWidget;

namespace platform::ui {

// Colours that follow the system's light or dark appearance.
enum class SemanticColor {
  label,
  secondaryLabel,
  link,
  windowBackground,
  systemRed,
  systemGreen,
  systemBlue,
  systemOrange,
};

// The colour's name, as tests and accessibility read it back ("systemRed").
const char* colorName(SemanticColor color);

// The colour as 0xAARRGGBB under the current appearance.
unsigned colorValue(SemanticColor color);

enum class FontWeight { regular, medium, semibold, bold };

// The system font at `size` points (one point is one logical pixel) and `weight`.
struct Font {
  double size;
  FontWeight weight;
};

enum class LineBreakMode { wordWrapping, truncatingTail };
enum class Orientation { horizontal = 0, vertical = 1 };
enum class StackAlignment { fill, leading, centerY };
enum class StackDistribution { gravityAreas, fillEqually };

class View {
 public:
  // A plain view: no content and no size of its own.
  View();
  virtual ~View();
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  void setHidden(bool hidden);
  bool isHidden() const;
  // A name by which tests and tools find the control.
  void setIdentifier(const std::string& name);
  void addSubview(View& child);
  // Fills the view's background with `color`, following the appearance.
  void setBackgroundColor(SemanticColor color);
  // Lets the view give up height, down to its minimum (one line for a label), when its column has too little
  // room for everything.
  void setCompressible(bool compressible);

  QWidget* nativeWidget() const;

 protected:
  explicit View(QWidget* widget);

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

// Static text. Plain labels stay on one line unless a wrapping line break and a line limit are set; wrapping
// labels wrap and let the user copy their text. A label keeps only as much of a very long text as its line limit
// can show, so a text of many megabytes costs no more than a screenful.
class Label : public View {
 public:
  static std::unique_ptr<Label> plain(const std::string& text);
  static std::unique_ptr<Label> wrapping(const std::string& text);
  // A one-line label whose text opens `url` in the browser when clicked.
  static std::unique_ptr<Label> link(const std::string& text, const std::string& url, Font font);

  void setText(const std::string& text);
  // The text as kept by the label (see above).
  std::string text() const;
  void setTextColor(SemanticColor color);
  void setFont(Font font);
  // 0 means no limit.
  void setMaximumNumberOfLines(int lines);
  void setLineBreakMode(LineBreakMode mode);
  // Adds an item, named `name` for tests and accessibility, to the label's context menu.
  void addMenuAction(const std::string& title, const std::string& name, std::function<void()> action);

 private:
  using View::View;
};

class Button : public View {
 public:
  // A push button with a rounded bezel that sends no action yet.
  explicit Button(const std::string& title);
  // `action` runs on the main thread on every click.
  void setAction(std::function<void()> action);
  void setEnabled(bool enabled);
  bool isEnabled() const;
  void setFont(Font font);
};

// A spinning busy indicator of the regular control size.
class ProgressIndicator : public View {
 public:
  ProgressIndicator();
  // When false, the stopped indicator draws nothing but keeps its place.
  void setDisplayedWhenStopped(bool displayed);
  void startAnimation();
  void stopAnimation();
  bool isAnimating() const;
};

// Arranges views in a row or a column. Hidden views take no room.
class StackView : public View {
 public:
  StackView(const std::vector<View*>& arranged, Orientation orientation);
  void setAlignment(StackAlignment alignment);
  void setSpacing(double spacing);
  void setDistribution(StackDistribution distribution);
  // In a vertical stack that has too little room, arranged views of lower priority are detached first (they
  // keep no room and draw nothing) until the rest fit. Views are required (1000) unless set lower.
  void setVisibilityPriority(View& view, int priority);

 private:
  std::vector<QWidget*> arranged_;
};

// Layout constraints. The forms that the launcher needs: an edge of a view equal to the same edge of its
// superview plus a constant, and a width or height equal to a constant (`second` null).
enum class Anchor { leading, trailing, top, bottom, width, height };
struct Constraint {
  View* first;
  Anchor anchor;
  View* second;
  double constant;
};
void activateConstraints(const std::vector<Constraint>& constraints);

class Window {
 public:
  struct Style {
    bool closable = true;
    bool miniaturizable = true;
    bool resizable = false;
  };
  // A window whose content area is `width` × `height` points.
  Window(double width, double height, Style style);
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  void center();
  void setTitle(const std::string& title);
  void setContentView(View& content);
  void makeKeyAndOrderFront();
  // Saves what the window shows now as a PNG image. Returns false when the file cannot be written.
  bool saveSnapshot(const Path& file) const;
  QWidget* nativeWidget() const;

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

// What the application tells its delegate.
class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  virtual void applicationDidFinishLaunching() = 0;
  virtual bool applicationShouldTerminateAfterLastWindowClosed() = 0;
};

// The one application object of the process.
class Application {
 public:
  // Makes the shared application; the launcher's own command line is not read.
  static Application& shared();
  // The application does not own its delegate.
  void setDelegate(ApplicationDelegate* delegate);
  // A regular application: shown in the Dock and able to come to the front.
  void setActivationPolicyRegular();
  // Runs the event loop; `applicationDidFinishLaunching` comes from its first turn. Returns when the
  // application has terminated.
  void run();
  // Brings the application's windows to the front even when another application is active.
  static void activateIgnoringOtherApps();

 private:
  Application();
  ApplicationDelegate* delegate_ = nullptr;
};

// Takes from the bundle's resources what the window system shows beside the window: the icon
// (`icons/<size>.png`), the texts that Qt itself draws in Chinese (`translations/qtbase_zh_CN.qm`, else Qt's
// installed translation), and the name that ties the windows to their desktop entry (the bundle identifier).
// What is missing is left out: the system's default icon, Qt's texts in English.
void adoptBundleResources(const Path& resourceDirectory, const std::string& identifier);

// Ends the process at once with `status`, without waiting for background work.
[[noreturn]] void endProcess(int status);

// Opens the folder that holds `file` in the system's file manager. Returns at once; failures are not told.
void showInFileManager(const Path& file);

}  // namespace platform::ui
