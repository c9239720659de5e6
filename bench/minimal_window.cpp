// The baseline of the idle-memory bench: the least a Qt window of the launcher's size must do to show what the
// launcher shows at rest. `minimal_window bare` shows an empty window; `minimal_window texts` shows the
// launcher's idle texts as plain labels in the launcher's fonts (the same families, pixel sizes and weights).
#include "app/launcher_texts.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include <cstring>
#include <string>

namespace {

void addText(QVBoxLayout& column, const std::string& text, int pixelSize, QFont::Weight weight) {
  QFont font = QApplication::font();
  font.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans SC"), font.family()});
  font.setPixelSize(pixelSize);
  font.setWeight(weight);
  auto* label = new QLabel(QString::fromStdString(text));
  label->setFont(font);
  column.addWidget(label);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  window.setFixedSize(548, 432);
  if (argc > 1 && std::strcmp(argv[1], "texts") == 0) {
    auto* column = new QVBoxLayout(&window);
    addText(*column, "岚栖启动器", 24, QFont::Bold);
    addText(*column, "ZErurure", 12, QFont::Medium);
    addText(*column, "版本 1.0.0", 12, QFont::Medium);
    addText(*column, "可调用模型", 12, QFont::DemiBold);
    addText(*column, std::string("生图：") + app::kImageModels + "\n生视频：" + app::kVideoModels, 12, QFont::Normal);
    addText(*column, "点击“检测环境”开始", 15, QFont::DemiBold);
    addText(*column, "检测环境　启动", 14, QFont::DemiBold);
    addText(*column, app::kCopyrightText, 13, QFont::Medium);
    addText(*column, app::kWebsiteHost, 13, QFont::Medium);
    addText(*column, std::string("QQ交流群：") + app::kChatGroupNumber, 13, QFont::Medium);
  }
  window.show();
  return QApplication::exec();
}
