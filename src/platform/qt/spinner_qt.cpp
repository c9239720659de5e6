#include "platform/qt/spinner_qt.h"

#include <QPainter>

#include <algorithm>

namespace platform::ui::detail {

Spinner::Spinner() {
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

void Spinner::setDisplayedWhenStopped(bool displayed) {
  displayedWhenStopped_ = displayed;
  update();
}

void Spinner::start() {
  if (timer_.isActive()) return;
  setRange(0, 0);  // busy, to assistive technology
  setAccessibleDescription(QStringLiteral("正在处理"));
  timer_.start();
  update();
}

void Spinner::stop() {
  timer_.stop();
  setRange(0, 1);
  setAccessibleDescription(QStringLiteral("空闲"));
  update();
}

bool Spinner::animating() const { return timer_.isActive(); }

void Spinner::paintEvent(QPaintEvent*) {
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

}  // namespace platform::ui::detail
