// The program: the main window over the client database beside it.
#include <QApplication>

#include "window/purge_window.h"
#include "window/qt_runtime.h"
#include "window/spanish_texts.h"
#include "window/spanner_icon.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  window::installSpanishTexts();
  QApplication::setApplicationName(QStringLiteral("borrar-inactivos"));
  QGuiApplication::setDesktopFileName(QStringLiteral("borrar-inactivos"));
  QApplication::setWindowIcon(window::spannerIcon());

  window::QtRuntime rt;
  window::PurgeWindow w(rt);
  rt.setWindow(&w);
  if (std::optional<int> status = w.load()) return *status;
  w.show();
  return QApplication::exec();
}
