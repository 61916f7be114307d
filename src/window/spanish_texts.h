// Spanish for the texts that Qt itself puts on the window and its boxes (the
// date box's context menu, the names of keys in its shortcuts).
#pragma once

#include <QString>

namespace window {

// Installs on the running application our own Spanish for the few Qt texts
// the window and its boxes show and, above it, Qt's Spanish translation
// (qtbase_es.qm) from `folder`, Qt's translations folder when empty. Ours
// holds the same words as Qt's, so the operator sees the same Spanish when
// the file is missing; Qt's covers whatever else Qt might show. Calling it
// again replaces what an earlier call installed. Returns whether Qt's file
// was found.
bool installSpanishTexts(const QString& folder = QString());

}  // namespace window
