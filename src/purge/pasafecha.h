// The cut-off date normalisation: whatever the date box holds becomes the
// date it denotes, or today's date when it denotes none.
#pragma once

#include "runtime/runtime.h"

namespace purge {

// Reads `texto` as a date under the regional rules and replaces it with that
// date (its time of day kept); when it denotes none, or a date out of range,
// replaces it with today's date as the text "dd-mm-yyyy". Returns the new
// value of `texto`. Never fails.
runtime::Variant pasafecha(runtime::Runtime& rt, runtime::Variant& texto);

}  // namespace purge
