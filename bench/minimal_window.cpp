// The baseline of the idle-memory bench: the least a Qt window of the launcher's size must do to show what the
// launcher shows at rest. `minimal_window bare` shows an empty window; `minimal_window texts` shows the
// launcher's idle texts as plain labels in the launcher's fonts (the same families, pixel sizes and weights).
#include "app/launcher_texts.h"
#include "platform/qt/semantic_style_qt.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include <cstring>
#include <string>

namespace {

// The font is chosen by the window layer's own function, so the baseline loads exactly the launcher's faces.
void addText(QVBoxLayout& column, const std::string& text, double size, platform::ui::FontWeight weight) {
  auto* label = new QLabel(QString::fromStdString(text));
  label->setFont(platform::ui::detail::makeFont({size, weight}));
  column.addWidget(label);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  window.setFixedSize(548, 432);
  if (argc > 1 && std::strcmp(argv[1], "texts") == 0) {
    auto* column = new QVBoxLayout(&window);
    using platform::ui::FontWeight;
    addText(*column, "岚栖启动器", 24, FontWeight::bold);
    addText(*column, "ZErurure", 12, FontWeight::medium);
    addText(*column, "版本 1.0.0", 12, FontWeight::medium);
    addText(*column, "可调用模型", 12, FontWeight::semibold);
    addText(*column, std::string("生图：") + app::kImageModels + "\n生视频：" + app::kVideoModels, 12,
            FontWeight::regular);
    addText(*column, "点击“检测环境”开始", 15, FontWeight::semibold);
    addText(*column, "检测环境　启动", 14, FontWeight::semibold);
    addText(*column, app::kCopyrightText, 13, FontWeight::medium);
    addText(*column, app::kWebsiteHost, 13, FontWeight::medium);
    addText(*column, std::string("QQ交流群：") + app::kChatGroupNumber, 13, FontWeight::medium);
  }
  window.show();
  return QApplication::exec();
}
