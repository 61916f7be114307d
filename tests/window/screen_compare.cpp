// Counts the pixels in which two screenshots of the same window differ,
// leaving out some rectangles (the parts meant to change), and names the
// first of them; with --inside, counts only within the one rectangle given.
//   screen_compare A.png B.png [X Y WIDTH HEIGHT]...
//   screen_compare --inside A.png B.png X Y WIDTH HEIGHT
// Exit status 0 when they agree where compared, 1 when they differ.
#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  const bool inside = argc > 1 && std::strcmp(argv[1], "--inside") == 0;
  char** args = argv + (inside ? 1 : 0);
  const int count = argc - (inside ? 1 : 0);
  if (count < 3 || (count - 3) % 4 != 0 || (inside && count != 7)) {
    std::fprintf(stderr,
                 "uso: screen_compare A.png B.png [X Y ANCHO ALTO]...\n"
                 "     screen_compare --inside A.png B.png X Y ANCHO ALTO\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  const QImage a = QImage(QString::fromLocal8Bit(args[1])).convertToFormat(QImage::Format_RGB32);
  const QImage b = QImage(QString::fromLocal8Bit(args[2])).convertToFormat(QImage::Format_RGB32);
  if (a.isNull() || b.isNull() || a.size() != b.size()) {
    std::fprintf(stderr, "screen_compare: las imágenes faltan o no tienen el mismo tamaño\n");
    return 2;
  }
  std::vector<QRect> rects;
  for (int i = 3; i < count; i += 4) {
    rects.emplace_back(std::atoi(args[i]), std::atoi(args[i + 1]), std::atoi(args[i + 2]),
                       std::atoi(args[i + 3]));
  }
  long differ = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const bool in_rect =
          std::any_of(rects.begin(), rects.end(), [&](const QRect& r) { return r.contains(x, y); });
      if (in_rect != inside || a.pixel(x, y) == b.pixel(x, y)) continue;
      if (differ++ == 0) std::printf("first differing pixel: %d,%d\n", x, y);
    }
  }
  std::printf("%ld pixels differ %s\n", differ, inside ? "inside" : "outside the rectangles");
  return differ == 0 ? 0 : 1;
}
