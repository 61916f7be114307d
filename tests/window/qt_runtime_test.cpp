// The runtime services on Qt: the message boxes as the operator sees them
// (in Spanish, answered by letter, clear of the date, long paths wrapped at
// their folders), the mouse pointer and repaints on request.
#include "window/qt_runtime.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QTextLayout>
#include <QTimer>
#include <functional>

#include "window/purge_window.h"
#include "window/spanish_texts.h"

namespace {

// Runs `open`, which shows a modal box; once the box is up, describes it as
// "title|text|icon|buttons|default" and lets `answer` close it. A box that
// `answer` leaves open is a failure, and is closed.
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
    QTimer::singleShot(2000, box, [box] {
      ADD_FAILURE() << "the box stayed open";
      box->done(0);
    });
  });
  poll.start();
  open();
  return seen.toStdString();
}

// Clicks the button whose caption, without its accelerator mark, is `caption`.
std::function<void(QMessageBox*)> press(const char* caption) {
  return [caption](QMessageBox* box) {
    for (QAbstractButton* b : box->buttons()) {
      if (QString(b->text()).remove('&') == QString::fromUtf8(caption)) b->click();
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
  EXPECT_EQ(whileOpen(reminder, press("Sí")), "Atención|¿Continuar?|3|&No,&Sí|&No");
  EXPECT_EQ(result, 6);
  whileOpen(reminder, press("No"));
  EXPECT_EQ(result, 7);
  whileOpen(reminder, enter);  // Enter takes the default, No
  EXPECT_EQ(result, 7);
  // The underlined letters answer, alone or with Alt, at once, as on Windows.
  for (auto modifier : {Qt::NoModifier, Qt::AltModifier}) {
    for (auto [key, answer] : {std::pair{Qt::Key_S, 6}, std::pair{Qt::Key_N, 7}}) {
      result = 0;
      whileOpen(reminder, [key, modifier](QMessageBox* box) {
        QTest::keyClick(box, key, modifier);
        EXPECT_FALSE(box->isVisible()) << "the box waited before closing";
      });
      EXPECT_EQ(result, answer) << key << " " << modifier;
    }
  }

  EXPECT_EQ(whileOpen([&] { result = rt.MsgBox("Borrado Terminado", 0); }, enter),
            "Borrar Inactivos|Borrado Terminado|0|Aceptar|Aceptar");
  EXPECT_EQ(result, 1);

  EXPECT_EQ(
      whileOpen([&] { rt.reportUnhandledError(3024, "No se encuentra el archivo 'x'."); }, enter),
      "Borrar Inactivos|Error 3024 en tiempo de ejecución: No se encuentra el archivo "
      "'x'.|3|Aceptar|Aceptar");
}

// The entries of the context menu that a right click on `w` opens, if any.
QStringList contextMenuTexts(QWidget* w) {
  QContextMenuEvent click(QContextMenuEvent::Mouse, w->rect().center(),
                          w->mapToGlobal(w->rect().center()));
  QApplication::sendEvent(w, &click);
  QStringList texts;
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  if (!menu) return texts;
  for (QAction* a : menu->actions()) {
    if (!a->isSeparator()) texts << a->text();
  }
  menu->close();
  QApplication::processEvents();
  return texts;
}

// What the operator can read on a window and its visible controls: title,
// captions and the entries of the context menus they open.
QStringList readableTexts(QWidget* window) {
  QStringList texts{window->windowTitle()};
  QList<QWidget*> all = window->findChildren<QWidget*>();
  all.prepend(window);
  for (QWidget* w : all) {
    if (!w->isVisible() ||
        !window->rect().intersects(QRect(w->mapTo(window, QPoint()), w->size()))) {
      continue;
    }
    if (auto* b = qobject_cast<QAbstractButton*>(w)) texts << b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) texts << l->text();
    texts << contextMenuTexts(w);
  }
  return texts;
}

// The words of Qt's own English that a widget could show.
bool looksEnglish(const QString& text) {
  static const QStringList kEnglish = {
      "Undo",     "Redo",   "Cut",    "Copy",    "Paste",   "Delete",    "Select",  "All",
      "OK",       "Cancel", "Yes",    "Close",   "Show",    "Hide",      "Details", "Link",
      "Location", "Ctrl",   "Shift",  "Apply",   "Abort",   "Retry",     "Ignore",  "Help",
      "Save",     "Open",   "Insert", "Unicode", "control", "character", "What's"};
  const QStringList words =
      QString(text).remove('&').split(QRegularExpression("[^\\w']+"), Qt::SkipEmptyParts);
  return std::any_of(words.begin(), words.end(),
                     [](const QString& w) { return kEnglish.contains(w); });
}

// Everything on screen is Spanish, with Qt's translation and without it
// (a machine where its file is missing).
TEST(QtRuntime, NoEnglishOnScreen) {
  const QStringList date_menu = {"&Deshacer", "&Rehacer", "Cor&tar",         "&Copiar",
                                 "&Pegar",    "Borrar",   "Seleccionar todo"};
  for (bool qt_file : {true, false}) {
    SCOPED_TRACE(qt_file ? "with qtbase_es.qm" : "without it");
    EXPECT_EQ(window::installSpanishTexts(qt_file ? QString() : QString("/no/hay/traducciones")),
              qt_file)
        << "scripts/setup.sh installs Qt's Spanish translation";
    window::QtRuntime rt;
    window::PurgeWindow w(rt);
    rt.setWindow(&w);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.Text1->setText("31/12/2010");
    w.Text1->selectAll();  // every entry of the menu enabled
    QStringList entries;   // without the shortcuts that follow a tab
    for (const QString& entry : contextMenuTexts(w.Text1)) entries << entry.section('\t', 0, 0);
    EXPECT_EQ(entries.join('|').toStdString(), date_menu.join('|').toStdString());

    QStringList seen = readableTexts(&w);
    auto collect = [&](QMessageBox* box) {
      seen << readableTexts(box);
      box->done(0);
    };
    whileOpen([&] { rt.MsgBox("¿Continuar?", 276, std::string("Atención")); }, collect);
    whileOpen([&] { rt.MsgBox("Borrado Terminado", 0); }, collect);
    whileOpen([&] { rt.MsgBox("¿Reintentar?", 2); }, collect);  // Anular, Reintentar, Omitir
    whileOpen([&] { rt.reportUnhandledError(3024, "No se encuentra el archivo '/x/y'."); },
              collect);
    EXPECT_GT(seen.size(), 20);
    for (const QString& text : seen) EXPECT_FALSE(looksEnglish(text)) << text.toStdString();
    rt.setWindow(nullptr);
  }
  window::installSpanishTexts();
}

// The reminder leaves the date box in sight wherever the window is, the
// bottom edge of the screen included.
TEST(QtRuntime, BoxesOpenClearOfTheDate) {
  struct Case {
    const char* name;
    QRect screen, window;
    QSize box;
    bool room;  // for the box beside the whole window; else beside the date's row
  };
  const QRect wide(0, 0, 1024, 768);
  const QSize reminder(502, 107), window(225, 97);
  const std::vector<Case> cases = {
      {"centred", wide, QRect({400, 335}, window), reminder, true},
      {"near the bottom edge", wide, QRect({400, 668}, window), reminder, true},
      {"bottom right corner", wide, QRect({799, 671}, window), reminder, true},
      {"top left corner", wide, QRect({0, 0}, window), reminder, true},
      {"a second screen", QRect(1024, 0, 800, 600), QRect({1500, 500}, window), reminder, true},
      {"screen as high as the two", QRect(0, 0, 1024, 200), QRect({100, 50}, window), reminder,
       true},
      {"a screen with room for neither", QRect(0, 0, 360, 240), QRect({0, 0}, window),
       QSize(190, 177), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QRect keep(c.window.topLeft(), QSize(c.window.width(), 44));  // title and date
    const QRect box(window::messageBoxPlace(c.window, keep, c.box, c.screen), c.box);
    EXPECT_TRUE(c.screen.contains(box));
    EXPECT_FALSE(box.intersects(c.room ? c.window : keep));
  }

  // The real boxes, the window near the bottom edge of the screen.
  window::QtRuntime rt;
  window::PurgeWindow w(rt);
  rt.setWindow(&w);
  const QRect screen = w.screen()->availableGeometry();
  w.move(screen.center().x(), screen.bottom() - w.frameGeometry().height() - 2);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  const QRect date(w.Text1->mapToGlobal(QPoint()), w.Text1->size());
  for (int style : {276, 0, 16}) {
    QRect box;
    whileOpen(
        [&] {
          rt.MsgBox(
              "Recuerde hacer una copia de seguridad antes de ejecutar esta "
              "opción, ¿Desea continuar con el borrado?",
              style);
        },
        [&](QMessageBox* b) {
          box = b->frameGeometry();
          b->reject();
        });
    EXPECT_TRUE(screen.contains(box)) << style;
    EXPECT_FALSE(box.intersects(w.frameGeometry())) << style;
    EXPECT_FALSE(box.intersects(date)) << style;
  }
  rt.setWindow(nullptr);
}

// A long path in an error box wraps at its folders, never inside a name,
// and reads as it was.
TEST(QtRuntime, ErrorBoxesWrapLongPathsAtTheirFolders) {
  const QString path =
      "/home/oficina/Documentos/Gestión-de-clientes/copias_de_seguridad/2026.diciembre/"
      "programa-de-mantenimiento-anual/clientes.ldb";
  const QString description = "No se puede abrir el archivo '" + path + "'.";
  window::QtRuntime rt;
  QString shown;
  QStringList lines;
  whileOpen([&] { rt.reportUnhandledError(3051, description.toStdString()); },
            [&](QMessageBox* box) {
              auto* label = box->findChild<QLabel*>("qt_msgbox_label");
              shown = label->text();
              QTextLayout layout(shown, label->font());
              QTextOption option;
              option.setWrapMode(QTextOption::WordWrap);  // as a label wraps its text
              layout.setTextOption(option);
              layout.beginLayout();
              for (QTextLine line = layout.createLine(); line.isValid();
                   line = layout.createLine()) {
                line.setLineWidth(label->contentsRect().width());
                lines << shown.mid(line.textStart(), line.textLength());
              }
              layout.endLayout();
              box->accept();
            });
  const QRegularExpression invisible("[\\x{200B}\\x{2060}]");
  const QString text = QString(shown).remove(invisible);
  EXPECT_EQ(text, "Error 3051 en tiempo de ejecución: " + description);
  ASSERT_GT(lines.size(), 2) << shown.toStdString();
  const qsizetype path_start = text.indexOf(path), path_end = path_start + path.size();
  qsizetype at = 0;  // where each line ends in the text as read
  for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
    at += QString(lines[i]).remove(invisible).size();
    if (at > path_start && at < path_end) {
      EXPECT_EQ(text[at - 1], '/') << "a line ends in " << lines[i].toStdString();
    }
  }
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
  // Asked again within a frame's time, it is painted by the event loop,
  // never left stale; past that time, at once again.
  frame_before = frame->paints;
  rt.refreshControl("Frame1");
  QApplication::processEvents();
  EXPECT_GT(frame->paints, frame_before);
  QTest::qWait(50);
  frame_before = frame->paints;
  rt.refreshControl("Frame1");
  EXPECT_GT(frame->paints, frame_before);
  EXPECT_THROW(rt.refreshControl("Frame9"), jet::JetError);

  rt.endProgram(0);
  EXPECT_FALSE(w.isVisible());
}

}  // namespace
