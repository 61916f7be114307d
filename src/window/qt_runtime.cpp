#include "qt_runtime.h"

#include <QApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShortcutEvent>
#include <QThread>
#include <QWindow>
#include <algorithm>

#include "runtime/box_place.h"

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

// The caption of a button, its access key marked ("&Sí": S).
QString caption(const runtime::MessageBoxLayout::Button& b) {
  QString c = QString::fromStdString(b.caption);
  return runtime::marksAccessKey(b.result) ? QLatin1Char('&') + c : c;
}

// Sees whether the window system asked a window to paint itself again.
class ExposeWatch : public QObject {
 public:
  explicit ExposeWatch(QWindow* w) : window_(w) {
    if (window_) window_->installEventFilter(this);
  }
  ~ExposeWatch() override {
    if (window_) window_->removeEventFilter(this);
  }
  bool seen = false;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Expose) seen = true;
    return false;
  }

 private:
  QPointer<QWindow> window_;
};

// A message box over the main window. It opens clear of the window, so that
// the operator sees the date the reminder asks about; once closed, the
// window is painted whole again before the caller goes on, since a purge run
// paints only its progress frame and would leave what the box covered on
// screen until its end.
class WindowBox : public QMessageBox {
 public:
  explicit WindowBox(QWidget* window) : QMessageBox(window), window_(window) {}

  int exec() override {
    for (QAbstractButton* b : buttons()) b->installEventFilter(this);
    const int result = QMessageBox::exec();
    if (window_) repaintWindow();
    return result;
  }

 protected:
  // A button's underlined letter, alone or with Alt, presses it at once, as
  // the platform's own boxes do; Qt would first show the button pressed for
  // a tenth of a second, holding up the run the answer starts.
  void keyPressEvent(QKeyEvent* e) override {
    if (!(e->modifiers() & (Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier))) {
      for (QAbstractButton* b : buttons()) {
        const QKeySequence k = b->shortcut();
        if (!k.isEmpty() && k[0].key() == e->key() && b->isEnabled()) {
          b->click();
          return;
        }
      }
    }
    QMessageBox::keyPressEvent(e);
  }
  bool eventFilter(QObject* watched, QEvent* e) override {
    auto* b = qobject_cast<QAbstractButton*>(watched);
    if (b && e->type() == QEvent::Shortcut && !static_cast<QShortcutEvent*>(e)->isAmbiguous() &&
        b->isEnabled()) {
      b->click();
      return true;
    }
    return QMessageBox::eventFilter(watched, e);
  }

  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);  // sizes the box, centred over the window
    if (!window_) return;
    const QRect frame = window_->frameGeometry();
    const QRect inside = window_->geometry();
    // The box gets a frame like the window's.
    const QSize decoration = frame.size() - inside.size();
    QRect keep = frame;
    if (auto* date = window_->findChild<QWidget*>(QStringLiteral("Text1"))) {
      keep.setBottom(date->mapToGlobal(date->rect().bottomLeft()).y());
    }
    const QScreen* screen = window_->screen();
    const QRect area = screen ? screen->availableGeometry() : frame.united(QRect(0, 0, 1, 1));
    // Placed by its inside, as a window not yet on screen has no frame.
    const QPoint place = messageBoxPlace(frame, keep, size() + decoration, area);
    setGeometry(QRect(place + (inside.topLeft() - frame.topLeft()), size()));
  }

 private:
  // When the box lay over the window, the window system asks the window to
  // paint the part it uncovers once the box's frame is gone, which may take
  // the window manager a moment: that request is awaited (without taking
  // the operator's input) before the window is painted whole.
  void repaintWindow() {
    if (frameGeometry().intersects(window_->frameGeometry())) {
      ExposeWatch watch(window_->windowHandle());
      QDeadlineTimer deadline(500);
      while (!watch.seen && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(5);
      }
    }
    window_->repaint();
  }

  QPointer<QWidget> window_;
};

}  // namespace

QPoint messageBoxPlace(const QRect& window, const QRect& keep, const QSize& box,
                       const QRect& screen) {
  auto plain = [](const QRect& r) {
    return runtime::ScreenRect{r.x(), r.y(), r.width(), r.height()};
  };
  const runtime::ScreenPoint p = runtime::messageBoxPlace(plain(window), plain(keep), box.width(),
                                                          box.height(), plain(screen));
  return {p.x, p.y};
}

QString pathsBreakingAtSeparators(const QString& text) {
  const QChar kBreak(0x200B);   // zero width space: a line may break here
  const QChar kJoiner(0x2060);  // word joiner: no line breaks here
  auto separator = [](QChar c) { return c == QLatin1Char('/') || c == QLatin1Char('\\'); };
  QString out;
  qsizetype i = 0;
  while (i < text.size()) {
    const qsizetype open = text.indexOf(QLatin1Char('\''), i);
    const qsizetype close = open < 0 ? -1 : text.indexOf(QLatin1Char('\''), open + 1);
    if (close < 0) {
      out += text.mid(i);
      break;
    }
    out += text.mid(i, open - i);
    const QString quoted = text.mid(open, close - open + 1);
    if (std::none_of(quoted.begin(), quoted.end(), separator)) {
      out += quoted;
    } else {
      for (qsizetype k = 0; k < quoted.size(); ++k) {
        out += quoted[k];
        if (k + 1 == quoted.size() || quoted[k].isHighSurrogate()) continue;
        out += separator(quoted[k]) ? kBreak : kJoiner;
      }
    }
    i = close + 1;
  }
  return out;
}

int QtRuntime::MsgBox(const std::string& prompt, int style,
                      const std::optional<std::string>& title) {
  runtime::MessageBoxLayout layout = runtime::messageBoxLayout(style, title);
  WindowBox box(window_ && window_->isVisible() ? window_.data() : nullptr);
  box.setWindowTitle(QString::fromStdString(layout.title));
  box.setText(QString::fromStdString(prompt));
  box.setIcon(qtIcon(layout.icon));
  std::vector<QPushButton*> buttons;
  for (const auto& b : layout.buttons) {
    buttons.push_back(box.addButton(caption(b), role(b.result)));
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
  constexpr qint64 kFrameMs = 33;
  QElapsedTimer& since = painted_[name];
  if (since.isValid() && !since.hasExpired(kFrameMs)) {
    control->update();
    return;
  }
  control->repaint();
  since.start();
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
  WindowBox box(window_ && window_->isVisible() ? window_.data() : nullptr);
  box.setWindowTitle(QString::fromUtf8(runtime::kAppTitle));
  box.setIcon(QMessageBox::Critical);
  box.setText(pathsBreakingAtSeparators(
      QString::fromStdString(runtime::unhandledErrorText(number, description))));
  box.setDefaultButton(box.addButton(QStringLiteral("Aceptar"), QMessageBox::AcceptRole));
  box.exec();
}

void QtRuntime::endProgram(int status) {
  if (window_) window_->hide();
  QCoreApplication::exit(status);
}

}  // namespace window
