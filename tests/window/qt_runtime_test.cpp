// The runtime services on Qt: the message boxes as the operator sees them,
// the mouse pointer and repaints on request.
#include "window/qt_runtime.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

namespace {

// Runs `open`, which shows a modal box; once the box is up, describes it as
// "title|text|icon|buttons|default" and lets `answer` close it.
std::string whileOpen(const std::function<void()>& open,
                      const std::function<void(QMessageBox*)>& answer) {
  QString seen;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    poll.stop();
    QStringList buttons;
    for (QAbstractButton* b : box->buttons()) buttons << b->text();
    buttons.sort();
    seen = box->windowTitle() + "|" + box->text() + "|" + QString::number(box->icon()) + "|" +
           buttons.join(',') + "|" + (box->defaultButton() ? box->defaultButton()->text() : "");
    answer(box);
  });
  poll.start();
  open();
  return seen.toStdString();
}

std::function<void(QMessageBox*)> press(const char* caption) {
  return [caption](QMessageBox* box) {
    for (QAbstractButton* b : box->buttons()) {
      if (b->text() == QString::fromUtf8(caption)) b->click();
    }
  };
}
void enter(QMessageBox* box) {
  QTest::keyClick(box, Qt::Key_Return);
}

TEST(QtRuntime, MessageBoxes) {
  window::QtRuntime rt;
  int result = 0;
  auto reminder = [&] { result = rt.MsgBox("¿Continuar?", 276, std::string("Atención")); };
  EXPECT_EQ(whileOpen(reminder, press("Sí")), "Atención|¿Continuar?|3|No,Sí|No");
  EXPECT_EQ(result, 6);
  whileOpen(reminder, press("No"));
  EXPECT_EQ(result, 7);
  whileOpen(reminder, enter);  // Enter takes the default, No
  EXPECT_EQ(result, 7);

  EXPECT_EQ(whileOpen([&] { result = rt.MsgBox("Borrado Terminado", 0); }, enter),
            "Borrar Inactivos|Borrado Terminado|0|Aceptar|Aceptar");
  EXPECT_EQ(result, 1);

  EXPECT_EQ(
      whileOpen([&] { rt.reportUnhandledError(3024, "No se encuentra el archivo 'x'."); }, enter),
      "Borrar Inactivos|Error 3024 en tiempo de ejecución: No se encuentra el archivo "
      "'x'.|3|Aceptar|Aceptar");
}

// A widget that counts its paints.
class Counted : public QWidget {
 public:
  using QWidget::QWidget;
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent*) override { ++paints; }
};

TEST(QtRuntime, PointerAndRepaintOfTheWindow) {
  window::QtRuntime rt;
  QWidget w;
  auto* frame = new Counted(&w);
  frame->setObjectName("Frame1");
  frame->setGeometry(0, 0, 50, 20);
  auto* bar = new Counted(frame);
  bar->setGeometry(0, 0, 40, 10);
  rt.setWindow(&w);

  rt.setMousePointer(11);
  EXPECT_EQ(rt.mousePointer(), 11);
  EXPECT_EQ(w.cursor().shape(), Qt::WaitCursor);
  rt.setMousePointer(0);
  EXPECT_EQ(w.cursor().shape(), Qt::ArrowCursor);

  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  QApplication::processEvents();
  int frame_before = frame->paints, bar_before = bar->paints;
  rt.refreshControl("Frame1");  // painted before any event loop runs again
  EXPECT_GT(frame->paints, frame_before);
  EXPECT_GT(bar->paints, bar_before);
  EXPECT_THROW(rt.refreshControl("Frame9"), jet::JetError);

  rt.endProgram(0);
  EXPECT_FALSE(w.isVisible());
}

}  // namespace
