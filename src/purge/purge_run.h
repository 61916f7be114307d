// The purge run that "Borrar" starts: normalise the date, remind of the
// backup, select the inactive clients up to the cut-off date and delete each
// with its rows in the three dependent tables, advancing the progress bar.
#pragma once

#include "purge/client_batch.h"
#include "purge/purge_form.h"
#include "runtime/runtime.h"

namespace purge {

inline constexpr const char* kBackupPrompt =
    "Recuerde hacer una copia de seguridad antes de ejecutar esta opción, ¿Desea continuar con el "
    "borrado?";
inline constexpr const char* kBackupTitle = "Atención";
inline constexpr int kBackupStyle = runtime::kYesNo + runtime::kCritical + runtime::kDefaultButton2;
inline constexpr const char* kDoneMessage = "Borrado Terminado";
inline constexpr const char* kSelectionStart =
    "Select * from clientes where clies = 'H' and clifre <= #";

// Runs the purge. Errors go up to the caller as run-time errors
// (jet::JetError); End (No at the reminder) as runtime::ProgramEnd. Each
// client is deleted together with its dependent rows or not at all: an error
// takes back the client in progress, and the clients before it are
// committed, before it goes up.
// `batching` says how many clients share a commit (the default is the
// program's).
void runPurge(runtime::Runtime& rt, PurgeForm& form, const BatchLimits& batching = {});

// Empties a recordset: nothing when it is empty, else Delete and MoveNext
// until EOF.
void deleteAll(db::Recordset& rs);

}  // namespace purge
