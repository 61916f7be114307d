#include "purge_window.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <string>

#include "db/schema.h"
#include "purge/pasafecha.h"
#include "purge/purge_run.h"
#include "window/spanner_icon.h"

namespace window {

PurgeWindow::PurgeWindow(runtime::Runtime& rt, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      rt_(rt) {
  const double dpi = logicalDpiX();
  auto place = [dpi](QWidget* w, const Twips& t) {
    w->setGeometry(twipsToPixels(t.left, dpi), twipsToPixels(t.top, dpi),
                   twipsToPixels(t.width, dpi), twipsToPixels(t.height, dpi));
  };

  setWindowTitle(QString::fromUtf8(kWindowTitle));
  setWindowIcon(spannerIcon());
  setFixedSize(twipsToPixels(kClientWidth, dpi), twipsToPixels(kClientHeight, dpi));

  // Created in tab order: the buttons, then the date box; the rest takes no focus.
  for (int i = 0; i < 2; ++i) {
    Command1[i] = new QPushButton(QString::fromUtf8(i == 0 ? kBorrarCaption : kSalirCaption), this);
    Command1[i]->setObjectName(QStringLiteral("Command1_%1").arg(i));
    // Enter presses the button that has the focus, as it does on Windows.
    Command1[i]->setAutoDefault(true);
    QObject::connect(Command1[i], &QPushButton::clicked, this, [this, i] {
      dispatch([this, i] { Command1_Click(static_cast<int16_t>(i)); });
    });
  }
  place(Command1[0], kBorrar);
  place(Command1[1], kSalir);

  Text1 = new QLineEdit(this);
  Text1->setObjectName(QStringLiteral("Text1"));
  place(Text1, kText1);

  Label1 = new QLabel(QString::fromUtf8(kLabel1Caption), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  place(Label1, kLabel1);

  Label2 = new QLabel(QString::fromUtf8(kLabel2Caption), this);
  Label2->setObjectName(QStringLiteral("Label2"));
  place(Label2, kLabel2);

  Frame1 = new QFrame(this);
  Frame1->setObjectName(QStringLiteral("Frame1"));
  Frame1->setFrameShape(QFrame::NoFrame);
  place(Frame1, kFrame1);

  Bar1 = new QProgressBar(Frame1);
  Bar1->setObjectName(QStringLiteral("Bar1"));
  Bar1->setRange(0, 100);
  Bar1->setValue(0);
  Bar1->setTextVisible(false);
  place(Bar1, kBar1);

  // The labels keep their place and size, so the platform's font is taken
  // at the largest size, 8 points or less, at which their captions fit.
  QFont f = font();
  for (double points = kFontPointsMax; points > kFontPointsMin; points -= kFontPointsStep) {
    f.setPointSizeF(points);
    QFontMetrics m(f);
    if (m.horizontalAdvance(Label1->text()) <= Label1->width() &&
        m.horizontalAdvance(Label2->text()) <= Label2->width() && m.height() <= Label1->height()) {
      break;
    }
  }
  setFont(f);

  setTabOrder(Command1[0], Command1[1]);
  setTabOrder(Command1[1], Text1);

  // Out of sight: the field view's box, which takes no focus (a focus the
  // operator cannot see would leave them lost), and the channels' places.
  text2_box_ = new QLineEdit(this);
  text2_box_->setObjectName(QStringLiteral("Text2"));
  text2_box_->setReadOnly(true);
  text2_box_->setFocusPolicy(Qt::NoFocus);
  place(text2_box_, kText2);
  for (int i = 0; i < 4; ++i) {
    auto* box = new QWidget(this);
    box->setObjectName(QStringLiteral("Data%1").arg(i + 1));
    place(box, kData[i]);
  }
  // The box shows the field view's text; the field view, wired first, has
  // taken the new row by then. Being out of sight, it takes it when the
  // event loop next runs: a purge moves through thousands of clients
  // between two runs of the loop, and each new text is laid out.
  Data1.onCursorMoved([this](const db::Recordset&) {
    if (text2_due_) return;
    text2_due_ = true;
    QTimer::singleShot(0, this, [this] { showText2(); });
  });

  Command1[0]->setFocus();

  if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

std::optional<int> PurgeWindow::load() {
  std::optional<int> status = FormChannels::load(rt_, "/");
  if (text2_due_) showText2();
  return status;
}

void PurgeWindow::showText2() {
  text2_due_ = false;
  text2_box_->setText(QString::fromStdString(Text2.text()));
}

std::string PurgeWindow::text1() const {
  return Text1->text().toStdString();
}

// The box shows the start of the date, the day, even when the whole of it
// (a date with a time) is wider than the box.
void PurgeWindow::setText1(const std::string& t) {
  Text1->setText(QString::fromStdString(t));
  Text1->setCursorPosition(0);
}

void PurgeWindow::setBar1Max(float max) {
  bar1_max_ = max;
  Bar1->setMaximum(barUnits(max));
}

// The bar shows its new value when the frame around it is refreshed, or
// when the event loop next runs: Qt's bar would paint itself, and wait on
// the display, at every visible step of a run.
void PurgeWindow::setBar1Value(float value) {
  bar1_value_ = value;
  Bar1->setUpdatesEnabled(false);
  Bar1->setValue(std::min(barUnits(value), Bar1->maximum()));
  Bar1->setUpdatesEnabled(true);
}

int PurgeWindow::bar1DrawnLength() const {
  return barDrawnLength(bar1_value_, bar1_max_, Bar1->width());
}

void PurgeWindow::Command1_Click(int16_t Index) {
  switch (Index) {
    case 0: {
      FormOf<PurgeWindow> form(*this);
      purge::runPurge(rt_, form);
      break;
    }
    case 1:
      rt_.End();
    default:
      break;
  }
}

void PurgeWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  rt_.endProgram(0);
}

void PurgeWindow::dispatch(const std::function<void()>& handler) {
  if (std::optional<int> status = runtime::runEvent(rt_, handler)) rt_.endProgram(*status);
}

}  // namespace window
