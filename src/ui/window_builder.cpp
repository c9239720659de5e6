// The launcher's one window: built once at launch, never rebuilt.
#include "app/launcher_app_delegate.h"
#include "app/launcher_texts.h"

namespace app {

using platform::ui::Anchor;
using platform::ui::Font;
using platform::ui::FontWeight;
using platform::ui::Label;
using platform::ui::LineBreakMode;
using platform::ui::Orientation;
using platform::ui::SemanticColor;
using platform::ui::StackAlignment;
using platform::ui::StackView;
using platform::ui::View;

namespace {

std::unique_ptr<Label> styledLabel(std::unique_ptr<Label> label, Font font, SemanticColor color) {
  label->setFont(font);
  label->setTextColor(color);
  return label;
}

std::unique_ptr<StackView> stack(const std::vector<View*>& views, Orientation orientation, double spacing,
                                 StackAlignment alignment) {
  auto made = std::make_unique<StackView>(views, orientation);
  made->setAlignment(alignment);
  made->setSpacing(spacing);
  return made;
}

}  // namespace

void LauncherAppDelegate::configure(platform::ui::Button& button, void (LauncherAppDelegate::*action)()) {
  button.setAction([this, action] { (this->*action)(); });
  button.setFont({14, FontWeight::semibold});
}

std::unique_ptr<Label> LauncherAppDelegate::linkLabel(const std::string& text, const std::string& url) {
  return Label::link(text, url, {13, FontWeight::medium});
}

void LauncherAppDelegate::buildWindow() {
  window = std::make_unique<platform::ui::Window>(548, 432, platform::ui::Window::Style{});
  window->center();
  window->setTitle("岚栖启动器");

  View content;
  content.setIdentifier("contentView");
  content.setBackgroundColor(SemanticColor::windowBackground);
  window->setContentView(content);

  auto heading = styledLabel(Label::plain("岚栖启动器"), {24, FontWeight::bold}, SemanticColor::label);
  heading->setIdentifier("headingLabel");
  auto subtitle = styledLabel(Label::plain("ZErurure"), {12, FontWeight::medium}, SemanticColor::secondaryLabel);
  auto version = styledLabel(Label::plain("版本 " + environment_.launcherVersionText), {12, FontWeight::medium},
                             SemanticColor::secondaryLabel);
  version->setIdentifier("versionLabel");
  auto header =
      stack({heading.get(), subtitle.get(), version.get()}, Orientation::vertical, 4, StackAlignment::leading);

  auto modelsTitle = styledLabel(Label::plain("可调用模型"), {12, FontWeight::semibold}, SemanticColor::secondaryLabel);
  auto modelsText =
      styledLabel(Label::wrapping(launcherModelSummary()), {12, FontWeight::regular}, SemanticColor::secondaryLabel);
  modelsText->setMaximumNumberOfLines(3);
  modelsText->setLineBreakMode(LineBreakMode::wordWrapping);
  modelsText->setIdentifier("modelsLabel");
  auto models = stack({modelsTitle.get(), modelsText.get()}, Orientation::vertical, 3, StackAlignment::leading);

  statusLabel->setIdentifier("statusLabel");
  statusLabel->setFont({15, FontWeight::semibold});
  statusLabel->setMaximumNumberOfLines(2);
  statusLabel->setLineBreakMode(LineBreakMode::wordWrapping);
  detailLabel->setIdentifier("detailLabel");
  detailLabel->setFont({12, FontWeight::regular});
  detailLabel->setTextColor(SemanticColor::secondaryLabel);
  detailLabel->setMaximumNumberOfLines(3);
  detailLabel->setLineBreakMode(LineBreakMode::wordWrapping);
  detailLabel->setHidden(true);
  detailLabel->setCompressible(true);
  if (environment_.logFile) {
    detailLabel->addMenuAction("在文件管理器中显示日志", "showLogAction",
                               [log = *environment_.logFile] { platform::ui::showInFileManager(log); });
  }

  activity->setIdentifier("activity");
  activity->setDisplayedWhenStopped(false);

  checkButton->setIdentifier("checkButton");
  launchButton->setIdentifier("launchButton");
  installButton->setIdentifier("installButton");
  configure(*checkButton, &LauncherAppDelegate::handleCheck);
  configure(*launchButton, &LauncherAppDelegate::handleLaunch);
  configure(*installButton, &LauncherAppDelegate::handleInstall);
  installButton->setHidden(true);

  auto buttonsRow = stack({checkButton.get(), launchButton.get()}, Orientation::horizontal, 12, StackAlignment::fill);
  buttonsRow->setDistribution(platform::ui::StackDistribution::fillEqually);
  progressLabel->setIdentifier("progressLabel");
  progressLabel->setFont({12, FontWeight::regular});
  progressLabel->setTextColor(SemanticColor::secondaryLabel);
  progressLabel->setLineBreakMode(LineBreakMode::truncatingTail);
  View activityFiller;
  auto activityRow = stack({activity.get(), progressLabel.get(), &activityFiller}, Orientation::horizontal, 8,
                           StackAlignment::centerY);

  auto copyright = styledLabel(Label::plain(kCopyrightText), {13, FontWeight::medium}, SemanticColor::secondaryLabel);
  auto website = linkLabel(kWebsiteHost, kWebsiteUrl);
  website->setIdentifier("websiteLink");
  auto contact = styledLabel(Label::plain(std::string("QQ交流群：") + kChatGroupNumber), {13, FontWeight::medium},
                             SemanticColor::secondaryLabel);
  auto footer =
      stack({copyright.get(), website.get(), contact.get()}, Orientation::vertical, 2, StackAlignment::leading);

  View bottomSpacer;
  StackView column({header.get(), models.get(), statusLabel.get(), detailLabel.get(), buttonsRow.get(),
                    installButton.get(), activityRow.get(), &bottomSpacer, footer.get()},
                   Orientation::vertical);
  column.setAlignment(StackAlignment::leading);
  column.setSpacing(14);
  // When every optional row shows at once the column is taller than the window. Then the activity row gives way
  // first (it draws nothing unless a run is under way, and then the detail text and the install button are
  // hidden, so it always has room), next the model list, and last the detail text's final lines: the heading,
  // the status line, the buttons and the footer always stay whole.
  column.setVisibilityPriority(*activityRow, 250);
  column.setVisibilityPriority(*models, 500);
  content.addSubview(column);

  platform::ui::activateConstraints({
      {&column, Anchor::leading, &content, 24},
      {&column, Anchor::trailing, &content, -24},
      {&column, Anchor::top, &content, 24},
      {&column, Anchor::bottom, &content, -20},
      {checkButton.get(), Anchor::height, nullptr, 36},
      {launchButton.get(), Anchor::height, nullptr, 36},
      {installButton.get(), Anchor::height, nullptr, 36},
      {installButton.get(), Anchor::width, nullptr, 156},
  });
  window->makeKeyAndOrderFront();
}

}  // namespace app
