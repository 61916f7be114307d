// The main window under Qt's offscreen platform, with the runtime services
// scripted: its shape, its controls, the focus, start-up and the buttons.
#include "window/purge_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "jet/database.h"
#include "support/fake_runtime.h"
#include "support/shared_fixtures.h"

namespace {

namespace fs = std::filesystem;
using testsupport::FakeRuntime;

// A folder holding a copy of the small client database as clientes.mdb.
fs::path folderWithClients() {
  fs::path dir = testsupport::scratchDir();
  fs::copy_file(testsupport::fixture("clientes/clientes-v2000-small.mdb"), dir / "clientes.mdb");
  fs::permissions(dir / "clientes.mdb", fs::perms::owner_write, fs::perm_options::add);
  return dir;
}

QRect geometryOf(QWidget& w, const char* name) {
  QWidget* c = w.findChild<QWidget*>(QString::fromLatin1(name));
  return c ? c->geometry() : QRect();
}

// Counts the paint events a widget receives while it lives.
class CountPaints : public QObject {
 public:
  CountPaints(QWidget* w, int& count) : w_(w), count_(count) { w_->installEventFilter(this); }
  ~CountPaints() override { w_->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++count_;
    return false;
  }

 private:
  QWidget* w_;
  int& count_;
};

TEST(PurgeWindow, ShapeAndControls) {
  FakeRuntime rt;
  window::PurgeWindow w(rt);
  ASSERT_EQ(w.logicalDpiX(), 96) << "the pixel sizes below hold at 96 dots per inch";
  EXPECT_EQ(w.windowTitle(), "Borrar Inactivos por Fechas");
  EXPECT_EQ(w.size(), QSize(223, 76));  // 3345 x 1140 twips
  EXPECT_TRUE(w.minimumSize() == w.size() && w.maximumSize() == w.size());
  Qt::WindowFlags f = w.windowFlags();
  EXPECT_TRUE((f & Qt::WindowCloseButtonHint) && (f & Qt::WindowTitleHint));
  EXPECT_FALSE(f & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  QList<QSize> icons = w.windowIcon().availableSizes();
  EXPECT_TRUE(icons.contains(QSize(32, 32)) && icons.contains(QSize(16, 16)));
  QPoint off = w.geometry().center() - w.screen()->availableGeometry().center();
  EXPECT_LE(off.manhattanLength(), 2) << "centred on the screen";

  // Positions in twips, divided by 15; Bar1 inside Frame1.
  EXPECT_EQ(geometryOf(w, "Label1"), QRect(5, 8, 33, 13));
  EXPECT_EQ(geometryOf(w, "Text1"), QRect(45, 5, 66, 19));
  EXPECT_EQ(geometryOf(w, "Label2"), QRect(5, 30, 36, 13));
  EXPECT_EQ(geometryOf(w, "Frame1"), QRect(45, 26, 171, 20));
  EXPECT_EQ(geometryOf(w, "Bar1"), QRect(0, 0, 170, 19));
  EXPECT_EQ(w.Bar1->parentWidget(), w.Frame1);
  EXPECT_EQ(geometryOf(w, "Command1_0"), QRect(16, 53, 67, 20));
  EXPECT_EQ(geometryOf(w, "Command1_1"), QRect(140, 53, 67, 20));
  EXPECT_EQ(geometryOf(w, "Text2"), QRect(92, 90, 36, 19));
  EXPECT_EQ(geometryOf(w, "Data1"), QRect(12, 91, 76, 20));
  EXPECT_EQ(geometryOf(w, "Data4"), QRect(14, 149, 76, 23));

  EXPECT_EQ(w.Label1->text(), "Fecha:");
  EXPECT_EQ(w.Label2->text(), "Estado:");
  EXPECT_EQ(w.Text1->text(), "");
  EXPECT_EQ(w.Command1[0]->text(), "Borrar");
  EXPECT_EQ(w.Command1[1]->text(), "Salir");
  EXPECT_FALSE(w.Command1[0]->isDefault() || w.Command1[1]->isDefault());
  EXPECT_EQ(w.Frame1->frameShape(), QFrame::NoFrame);
  EXPECT_EQ(std::make_tuple(w.Bar1->minimum(), w.Bar1->maximum(), w.Bar1->value()),
            std::make_tuple(0, 100, 0));
  for (QLabel* label : {w.Label1, w.Label2}) {  // whole captions, not clipped
    QFontMetrics m(label->font());
    EXPECT_LE(m.horizontalAdvance(label->text()), label->width()) << label->text().toStdString();
    EXPECT_LE(m.height(), label->height());
  }

  // Six controls in sight; the field view and the channels' places below.
  QStringList in_sight, below;
  for (QWidget* c : w.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    (w.rect().intersects(c->geometry()) ? in_sight : below) << c->objectName();
  }
  in_sight.sort();
  below.sort();
  EXPECT_EQ(in_sight.join(' '), "Command1_0 Command1_1 Frame1 Label1 Label2 Text1");
  EXPECT_EQ(below.join(' '), "Data1 Data2 Data3 Data4 Text2");
}

TEST(PurgeWindow, FocusStartsOnBorrarAndTabCyclesThroughTheVisibleControls) {
  FakeRuntime rt;
  window::PurgeWindow w(rt);
  w.show();
  QApplication::setActiveWindow(&w);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  EXPECT_EQ(QApplication::focusWidget(), w.Command1[0]);
  for (QWidget* next : std::vector<QWidget*>{w.Command1[1], w.Text1, w.Command1[0]}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
  }
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), w.Text1);

  // Enter presses the focused button ("Salir" ends the program); in the date box it does nothing.
  QTest::keyClick(w.Text1, Qt::Key_Return);
  EXPECT_TRUE(rt.ends.empty());
  w.Command1[1]->setFocus();
  QTest::keyClick(w.Command1[1], Qt::Key_Return);
  EXPECT_EQ(rt.ends, std::vector<int>{0});
}

TEST(PurgeWindow, StartUpOpensTheClientsBesideTheProgram) {
  REQUIRE_FIXTURES();
  fs::path dir = folderWithClients();
  FakeRuntime rt;
  rt.program_dir = dir.string() + "/";  // the separator is added all the same
  window::PurgeWindow w(rt);
  EXPECT_EQ(w.load(), std::nullopt);
  EXPECT_TRUE(rt.errors.empty() && rt.ends.empty());
  std::string path = dir.string() + "//clientes.mdb";
  for (db::RecordChannel* c : {&w.Data1, &w.Data2, &w.Data3, &w.Data4}) {
    EXPECT_EQ(c->DatabaseName(), path);
  }
  EXPECT_EQ(w.Data1.RecordSource(), "CLIENTES");
  EXPECT_EQ(w.Data1.recordset().RecordCount(), 40);

  // The field view shows the code of the client the engine yields first.
  jet::Database db(path);
  jet::Table clients = db.table("clientes");
  size_t code = 0;
  while (clients.def().columns[code].name != "CLICOD") ++code;
  EXPECT_EQ(w.Text2.text(), std::to_string(clients.read(clients.rowIds().front(), code).asInt()));
  EXPECT_EQ(w.findChild<QLineEdit*>("Text2")->text().toStdString(), w.Text2.text());
  // Out of sight, its box follows the cursor once the event loop runs.
  const std::string first = w.Text2.text();
  w.Data1.recordset().MoveNext();
  QApplication::processEvents();
  EXPECT_NE(w.Text2.text(), first);
  EXPECT_EQ(w.findChild<QLineEdit*>("Text2")->text().toStdString(), w.Text2.text());
}

TEST(PurgeWindow, StartWithoutAUsableDatabaseReportsAndEnds) {
  REQUIRE_FIXTURES();
  const std::vector<std::pair<int, std::function<void(const fs::path&)>>> cases = {
      {3024, [](const fs::path&) {}},
      {3343, [](const fs::path& d) { std::ofstream(d / "clientes.mdb") << "no es una base"; }},
      {3078,
       [](const fs::path& d) {  // a database without a CLIENTES table
         fs::copy_file(testsupport::fixture("real/jet4/testV2000.mdb"), d / "clientes.mdb");
       }}};
  for (const auto& [error, prepare] : cases) {
    fs::path dir = testsupport::scratchDir();
    prepare(dir);
    FakeRuntime rt;
    rt.program_dir = dir.string();
    window::PurgeWindow w(rt);
    EXPECT_EQ(w.load(), 1) << error;
    ASSERT_EQ(rt.errors.size(), 1u) << error;
    EXPECT_EQ(rt.errors[0].number, error);
    EXPECT_EQ(rt.ends, std::vector<int>{1}) << error;
    EXPECT_FALSE(w.isVisible());
    if (error == 3024) {
      EXPECT_EQ(rt.errors[0].description,
                "No se encuentra el archivo '" + dir.string() + "/clientes.mdb'.");
    }
  }
}

TEST(PurgeWindow, Buttons) {
  // "Borrar" normalises the date box, then asks for the backup; No ends the program.
  const std::vector<std::pair<const char*, const char*>> boxes = {
      {"", "06-12-2026"},
      {"hola", "06-12-2026"},
      {"31/12/2020 10:30", "31/12/2020 10:30:00"},
      {"06-12-2026", "06/12/2026"}};
  for (const auto& [box, shown] : boxes) {
    FakeRuntime rt;
    rt.now = {2026, 12, 6, 9, 15, 30};
    rt.answers = {runtime::kResultNo};
    window::PurgeWindow w(rt);
    w.Text1->setText(box);
    QTest::mouseClick(w.Command1[0], Qt::LeftButton);
    EXPECT_EQ(w.Text1->text().toStdString(), shown) << box;
    ASSERT_EQ(rt.messages.size(), 1u);
    EXPECT_EQ(rt.messages[0].style, 276);
    EXPECT_EQ(rt.messages[0].title, std::optional<std::string>("Atención"));
    EXPECT_EQ(rt.ends, std::vector<int>{0});
  }

  FakeRuntime rt;
  window::PurgeWindow w(rt);
  for (int16_t index : {2, -1, 32767}) w.Command1_Click(index);  // nothing
  EXPECT_TRUE(rt.ends.empty() && rt.messages.empty() && rt.errors.empty());

  QTest::mouseClick(w.Command1[1], Qt::LeftButton);  // "Salir": no question
  EXPECT_EQ(rt.ends, std::vector<int>{0});
  EXPECT_TRUE(rt.messages.empty());

  FakeRuntime rt2;
  window::PurgeWindow w2(rt2);
  w2.show();
  EXPECT_TRUE(w2.close());
  EXPECT_EQ(rt2.ends, std::vector<int>{0});
}

// "Borrar" writes the date, with its time, into a box too narrow for both:
// the box shows the day, as a box holding the date alone does.
TEST(PurgeWindow, TheDateBoxShowsTheDay) {
  for (const char* typed : {"31/12/2010 10:30", "31-12-2010 23:59:59", "2010-12-31 8:05"}) {
    SCOPED_TRACE(typed);
    FakeRuntime rt;
    rt.answers = {runtime::kResultNo};
    window::PurgeWindow w(rt);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.Text1->setText(typed);  // the cursor at its end, as after typing
    QTest::mouseClick(w.Command1[0], Qt::LeftButton);
    ASSERT_TRUE(w.Text1->text().startsWith("31/12/2010 ")) << w.Text1->text().toStdString();
    QFontMetrics m(w.Text1->font());
    ASSERT_GT(m.horizontalAdvance(w.Text1->text()), w.Text1->width()) << "fits whole";

    QLineEdit date_alone(&w);
    date_alone.setGeometry(QRect(QPoint(0, 200), w.Text1->size()));
    date_alone.setText("31/12/2010");
    const QImage shown = w.Text1->grab().toImage();
    const QImage expected = date_alone.grab().toImage();
    ASSERT_EQ(shown.size(), expected.size());
    int differ = 0;
    for (int y = 0; y < shown.height(); ++y) {
      for (int x = 0; x < m.horizontalAdvance("31/12/201"); ++x) {
        differ += shown.pixel(x, y) != expected.pixel(x, y);
      }
    }
    EXPECT_EQ(differ, 0);
  }
}

TEST(PurgeWindow, BorrarPurgesAndFillsTheBar) {
  REQUIRE_FIXTURES();
  fs::path dir = folderWithClients();
  FakeRuntime rt;
  rt.program_dir = dir.string();
  rt.answers = {runtime::kResultYes};
  {
    window::PurgeWindow w(rt);
    ASSERT_EQ(w.load(), std::nullopt);
    w.Text1->setText("31/12/2010");
    QTest::mouseClick(w.Command1[0], Qt::LeftButton);
    EXPECT_TRUE(rt.errors.empty());
    ASSERT_EQ(rt.messages.size(), 2u);
    EXPECT_EQ(rt.messages[1].prompt, "Borrado Terminado");
    // The fixture's README: 9 clients with status H or h up to 31-12-2010.
    EXPECT_EQ(w.bar1Max(), 9.0f);
    EXPECT_EQ(w.bar1Value(), 9.0f);
    EXPECT_EQ(w.Bar1->maximum(), 9);
    EXPECT_EQ(w.Bar1->value(), 9);
    EXPECT_EQ(rt.pointers, (std::vector<int>{11, 0}));
  }
  jet::Database db((dir / "clientes.mdb").string());
  EXPECT_EQ(db.table("clientes").rowIds().size(), 31u);
}

// A new value paints the bar when its frame is refreshed or the event loop
// runs, not at once: a run sets it for every client.
TEST(PurgeWindow, TheBarPaintsWhenRefreshed) {
  FakeRuntime rt;
  window::PurgeWindow w(rt);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  int paints = 0;
  CountPaints counter(w.Bar1, paints);
  w.setBar1Max(10);
  QApplication::processEvents();
  paints = 0;
  w.setBar1Value(5);
  EXPECT_EQ(w.Bar1->value(), 5);
  EXPECT_EQ(paints, 0);
  w.Frame1->repaint();  // what the runtime's refresh does
  EXPECT_GT(paints, 0);
  paints = 0;
  w.setBar1Value(6);
  QApplication::processEvents();
  EXPECT_GT(paints, 0);
}

}  // namespace
