#include "qt_runtime.h"

#include <QApplication>
#include <QDateTime>
#include <QMessageBox>
#include <QPushButton>

namespace window {

namespace {

QMessageBox::Icon qtIcon(runtime::MessageBoxLayout::Icon icon) {
  using I = runtime::MessageBoxLayout::Icon;
  switch (icon) {
    case I::Critical:
      return QMessageBox::Critical;
    case I::Question:
      return QMessageBox::Question;
    case I::Exclamation:
      return QMessageBox::Warning;
    case I::Information:
      return QMessageBox::Information;
    case I::None:
      break;
  }
  return QMessageBox::NoIcon;
}

// The role Qt gives a button, which settles what Escape does.
QMessageBox::ButtonRole role(int result) {
  switch (result) {
    case runtime::kResultOk:
    case runtime::kResultRetry:
      return QMessageBox::AcceptRole;
    case runtime::kResultCancel:
    case runtime::kResultAbort:
      return QMessageBox::RejectRole;
    case runtime::kResultYes:
      return QMessageBox::YesRole;
    case runtime::kResultNo:
      return QMessageBox::NoRole;
    default:
      return QMessageBox::ActionRole;
  }
}

}  // namespace

int QtRuntime::MsgBox(const std::string& prompt, int style,
                      const std::optional<std::string>& title) {
  runtime::MessageBoxLayout layout = runtime::messageBoxLayout(style, title);
  QWidget* parent = window_ && window_->isVisible() ? window_.data() : nullptr;
  QMessageBox box(parent);
  box.setWindowTitle(QString::fromStdString(layout.title));
  box.setText(QString::fromStdString(prompt));
  box.setIcon(qtIcon(layout.icon));
  std::vector<QPushButton*> buttons;
  for (const auto& b : layout.buttons) {
    buttons.push_back(box.addButton(QString::fromStdString(b.caption), role(b.result)));
  }
  box.setDefaultButton(buttons[layout.default_button]);
  box.exec();
  for (size_t i = 0; i < buttons.size(); ++i) {
    if (box.clickedButton() == buttons[i]) return layout.buttons[i].result;
  }
  // Closed without a button (Escape with no cancel button): the default answers.
  return layout.buttons[layout.default_button].result;
}

void QtRuntime::setMousePointer(int pointer) {
  pointer_ = pointer;
  if (!window_) return;
  if (pointer == runtime::kPointerHourglass) {
    window_->setCursor(Qt::WaitCursor);
  } else {
    window_->unsetCursor();
  }
}

void QtRuntime::refreshControl(const std::string& name) {
  QWidget* control = window_ ? window_->findChild<QWidget*>(QString::fromStdString(name)) : nullptr;
  if (!control) throw jet::JetError(jet::Msg::kObjectRequired);
  control->repaint();
}

std::string QtRuntime::programDir() const {
  return QCoreApplication::applicationDirPath().toStdString();
}

runtime::Date QtRuntime::Now() const {
  QDateTime now = QDateTime::currentDateTime();
  QDate d = now.date();
  QTime t = now.time();
  return runtime::toDateValue({d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()});
}

void QtRuntime::reportUnhandledError(int number, const std::string& description) {
  QMessageBox box(window_ && window_->isVisible() ? window_.data() : nullptr);
  box.setWindowTitle(QString::fromUtf8(runtime::kAppTitle));
  box.setIcon(QMessageBox::Critical);
  box.setText(QString::fromStdString(runtime::unhandledErrorText(number, description)));
  box.setDefaultButton(box.addButton(QStringLiteral("Aceptar"), QMessageBox::AcceptRole));
  box.exec();
}

void QtRuntime::endProgram(int status) {
  if (window_) window_->hide();
  QCoreApplication::exit(status);
}

}  // namespace window
