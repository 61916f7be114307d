// The program's icon: a grey spanner at 32x32 and 16x16 pixels.
#pragma once

#include <QIcon>

namespace window {

QIcon spannerIcon();

}  // namespace window
