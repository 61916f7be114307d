#include "pasafecha.h"

namespace purge {

runtime::Variant pasafecha(runtime::Runtime& rt, runtime::Variant& texto) {
  try {
    texto = rt.toDate(texto);
  } catch (const jet::JetError&) {
    // No date in the box: today's date, without the time.
    texto = rt.format(rt.Now(), "dd-mm-yyyy");
  }
  return texto;
}

}  // namespace purge
