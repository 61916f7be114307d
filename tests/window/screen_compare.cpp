// Counts the pixels in which two screenshots of the same window differ,
// leaving out some rectangles (the parts meant to change), and names the
// first of them.
//   screen_compare A.png B.png [X Y WIDTH HEIGHT]...
// Exit status 0 when they agree outside the rectangles, 1 when they differ.
#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3 || (argc - 3) % 4 != 0) {
    std::fprintf(stderr, "uso: screen_compare A.png B.png [X Y ANCHO ALTO]...\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  const QImage a = QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_RGB32);
  const QImage b = QImage(QString::fromLocal8Bit(argv[2])).convertToFormat(QImage::Format_RGB32);
  if (a.isNull() || b.isNull() || a.size() != b.size()) {
    std::fprintf(stderr, "screen_compare: las imágenes faltan o no tienen el mismo tamaño\n");
    return 2;
  }
  std::vector<QRect> skip;
  for (int i = 3; i < argc; i += 4) {
    skip.emplace_back(std::atoi(argv[i]), std::atoi(argv[i + 1]), std::atoi(argv[i + 2]),
                      std::atoi(argv[i + 3]));
  }
  long differ = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (a.pixel(x, y) == b.pixel(x, y)) continue;
      if (std::any_of(skip.begin(), skip.end(), [&](const QRect& r) { return r.contains(x, y); })) {
        continue;
      }
      if (differ++ == 0) std::printf("first differing pixel: %d,%d\n", x, y);
    }
  }
  std::printf("%ld pixels differ outside the rectangles\n", differ);
  return differ == 0 ? 0 : 1;
}
