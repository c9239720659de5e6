// The spinning busy indicator behind `ProgressIndicator`. For the Qt implementation files of the window layer.
#pragma once

#include <QProgressBar>
#include <QTimer>

#include "platform/qt/semantic_style_qt.h"

namespace platform::ui::detail {

// A spinning indicator drawn as twelve fading spokes; a progress bar to assistive technology.
class Spinner final : public QProgressBar {
 public:
  Spinner();
  void setDisplayedWhenStopped(bool displayed);
  void start();
  void stop();
  bool animating() const;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QTimer timer_;
  int step_ = 0;
  bool displayedWhenStopped_ = true;
};

}  // namespace platform::ui::detail
