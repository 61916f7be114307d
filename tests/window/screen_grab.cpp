// Saves a screenshot of the X display as PNG: the whole screen, or one
// window given by its X id (as xdotool prints it).
//   screen_grab OUT.png [WINDOW_ID]
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "uso: screen_grab SALIDA.png [VENTANA]\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  WId window = argc == 3 ? static_cast<WId>(QByteArray(argv[2]).toULongLong()) : 0;
  QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(window);
  if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "screen_grab: no se pudo guardar %s\n", argv[1]);
    return 1;
  }
  return 0;
}
