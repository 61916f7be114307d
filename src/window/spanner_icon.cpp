#include "spanner_icon.h"

#include <QPixmap>

namespace window {

namespace {
#include "icons/spanner-16.xpm"
#include "icons/spanner-32.xpm"
}  // namespace

QIcon spannerIcon() {
  QIcon icon;
  icon.addPixmap(QPixmap(spanner_32));
  icon.addPixmap(QPixmap(spanner_16));
  return icon;
}

}  // namespace window
