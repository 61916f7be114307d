#include "spanish_texts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <string_view>

namespace window {

namespace {

// Qt's source texts and the Spanish that qtbase_es.qm gives them: the
// context menu of a line edit (the date box) and of a text label, and the
// key names its shortcuts are written with.
struct Text {
  const char* context;
  const char* source;
  const char* spanish;
};
constexpr Text kTexts[] = {
    {"QLineEdit", "&Undo", "&Deshacer"},
    {"QLineEdit", "&Redo", "&Rehacer"},
    {"QLineEdit", "Cu&t", "Cor&tar"},
    {"QLineEdit", "&Copy", "&Copiar"},
    {"QLineEdit", "&Paste", "&Pegar"},
    {"QLineEdit", "Delete", "Borrar"},
    {"QLineEdit", "Select All", "Seleccionar todo"},
    {"QWidgetTextControl", "&Copy", "&Copiar"},
    {"QWidgetTextControl", "Copy &Link Location", "Copiar la ubicación del en&lace"},
    {"QWidgetTextControl", "Select All", "Seleccionar todo"},
    {"QShortcut", "Ctrl", "Control"},
    {"QShortcut", "Shift", "Mayúsculas"},
};

class OwnSpanish : public QTranslator {
 public:
  using QTranslator::QTranslator;
  QString translate(const char* context, const char* source, const char* = nullptr,
                    int = -1) const override {
    if (!context || !source) return {};
    for (const Text& t : kTexts) {
      if (std::string_view(t.context) == context && std::string_view(t.source) == source) {
        return QString::fromUtf8(t.spanish);
      }
    }
    return {};
  }
  bool isEmpty() const override { return false; }
};

const char kInstalledBy[] = "window::installSpanishTexts";

}  // namespace

bool installSpanishTexts(const QString& folder) {
  QCoreApplication* app = QCoreApplication::instance();
  for (QTranslator* earlier : app->findChildren<QTranslator*>(QString::fromLatin1(kInstalledBy))) {
    QCoreApplication::removeTranslator(earlier);
    delete earlier;
  }
  // Qt asks the translator installed last first: ours goes in first, so
  // that Qt's own file, when there, has the last word.
  auto* own = new OwnSpanish(app);
  own->setObjectName(QString::fromLatin1(kInstalledBy));
  QCoreApplication::installTranslator(own);

  auto* qt = new QTranslator(app);
  qt->setObjectName(QString::fromLatin1(kInstalledBy));
  const QString dir =
      folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
  if (!qt->load(QLocale(QLocale::Spanish, QLocale::Spain), QStringLiteral("qtbase"),
                QStringLiteral("_"), dir)) {
    delete qt;
    return false;
  }
  QCoreApplication::installTranslator(qt);
  return true;
}

}  // namespace window
