#include "jet/error.h"

#include <cstddef>
#include <iterator>

namespace jet {
namespace {

struct Row {
  Msg msg;
  int number;
  const char* text;
};

// Every error, once. The descriptions are those Access gives where it has
// one; the rest are ours, in the same voice.
constexpr Row kErrors[] = {
    {Msg::kInvalidCall, err::kInvalidCall, "Argumento o llamada a procedimiento no válida."},
    {Msg::kOverflow, err::kOverflow, "Desbordamiento."},
    {Msg::kOutOfMemory, err::kOutOfMemory, "Memoria insuficiente."},
    {Msg::kTypeMismatch, err::kTypeMismatch, "No coinciden los tipos."},
    {Msg::kColumnTypeNotWritable, err::kTypeMismatch, "No se pueden escribir columnas de tipo %1."},
    {Msg::kRowNotIndexable, err::kTypeMismatch,
     "No se puede indexar una fila de la tabla '%1': %2"},
    {Msg::kInternal, err::kInternal, "Error interno."},
    {Msg::kObjectRequired, err::kObjectRequired, "Se requiere un objeto."},
    {Msg::kTableExists, err::kTableExists, "La tabla '%1' ya existe."},
    {Msg::kNoCurrentRecord, err::kNoCurrentRecord, "No hay un registro activo."},
    {Msg::kDuplicateKey, err::kDuplicateKey,
     "Los cambios solicitados en la tabla no se realizaron correctamente porque crearían "
     "valores duplicados en el índice, clave principal o relación (tabla '%1', índice '%2')."},
    {Msg::kFileNotFound, err::kFileNotFound, "No se encuentra el archivo '%1'."},
    {Msg::kDiskFull, err::kDiskFull, "No hay espacio suficiente en el disco para escribir '%1'."},
    {Msg::kWriteFailed, err::kDiskFull,
     "No se pudo escribir en el archivo '%1' (error del sistema %2)."},
    {Msg::kFileTooLarge, err::kDiskFull,
     "La base de datos '%1' superaría el tamaño máximo de un archivo de Access."},
    {Msg::kReadOnlyDatabase, err::kReadOnly,
     "No se puede actualizar. La base de datos '%1' está abierta de sólo lectura."},
    {Msg::kIndexPageFull, err::kReadOnly,
     "No se puede actualizar el índice de '%1': la página %2 no admite sus entradas nuevas."},
    {Msg::kIndexNoFreePage, err::kReadOnly,
     "No se puede actualizar el índice de '%1': no queda ninguna página que el índice pueda "
     "usar."},
    {Msg::kSystemTable, err::kReadOnly,
     "No se puede actualizar. La base de datos o el objeto es de sólo lectura ('%1' es una "
     "tabla del sistema)."},
    {Msg::kPasswordNeeded, err::kNotValidPassword,
     "No es una contraseña válida. (La base de datos '%1' está protegida con una contraseña.)"},
    {Msg::kFileInUse, err::kFileInUse, "No se puede usar '%1'; el archivo ya está en uso."},
    {Msg::kRecordTooLarge, err::kRecordTooLarge, "El registro es demasiado grande."},
    {Msg::kCannotOpen, err::kCannotOpen, "No se puede abrir el archivo '%1'."},
    {Msg::kCannotWrite, err::kCannotOpen, "No se puede escribir en el archivo '%1'."},
    {Msg::kCannotExtend, err::kCannotOpen,
     "No se puede ampliar el archivo '%1': alcanzó el mayor número de páginas."},
    {Msg::kCannotCreateTemp, err::kCannotOpen,
     "No se puede crear un archivo temporal junto a '%1'."},
    {Msg::kFolderReadOnly, err::kCannotOpen,
     "No se puede escribir en la carpeta '%1': no permite crear archivos."},
    {Msg::kUnknownField, err::kUnknownField,
     "No se reconoce '%1' como nombre de campo o expresión válida."},
    {Msg::kSyntax, err::kSyntax,
     "Error de sintaxis en la expresión de consulta '%1'. (posición %2: %3)"},
    {Msg::kUnknownTable, err::kUnknownTable,
     "No se encuentra la tabla o consulta de entrada '%1'."},
    {Msg::kFieldTooSmall, err::kFieldTooSmall,
     "El campo '%1' es demasiado pequeño para aceptar la cantidad de datos que intentó agregar."},
    {Msg::kRecordDeleted, err::kRecordDeleted, "El registro se ha eliminado."},
    {Msg::kChangedByOther, err::kChangedByOther,
     "Otro programa ha cambiado '%1' mientras estaba abierto; vuelva a abrirlo."},
    {Msg::kRelatedRecords, err::kRelatedRecords,
     "No se puede eliminar o cambiar el registro porque la tabla '%1' contiene registros "
     "relacionados."},
    {Msg::kRelatedRecordNeeded, err::kRelatedRecordNeeded,
     "No se puede agregar o cambiar el registro porque se necesita un registro relacionado en "
     "la tabla '%1'."},
    {Msg::kItemNotFound, err::kItemNotFound, "Elemento no encontrado en esta colección."},
    {Msg::kBadFormat, err::kBadFormat, "Formato de base de datos '%1' no reconocido: %2."},
    {Msg::kCannotCreateTable, err::kBadFormat, "No se puede crear la tabla '%1': %2."},
    {Msg::kRelationNoColumns, err::kBadFormat, "La relación '%1' no tiene columnas válidas."},
    {Msg::kRelationExists, err::kBadFormat, "La relación '%1' ya existe."},
    {Msg::kRelationTypes, err::kBadFormat, "La relación '%1' une columnas de tipos distintos."},
    {Msg::kRelationNotUnique, err::kBadFormat,
     "La relación '%1' no apunta a una clave única de '%2'."},
    {Msg::kBadJournal, err::kBadFormat,
     "El diario '%1' de la base de datos '%2' no se puede aplicar: %3. La base de datos puede "
     "haber quedado a medio escribir; no se ha tocado ninguno de los dos archivos. Restaure la "
     "copia de seguridad o consulte al servicio técnico."},
    {Msg::kCriteriaTypeMismatch, err::kCriteriaTypeMismatch,
     "No coinciden los tipos de datos en la expresión de criterios. (%1)"},
};

// The table lists the errors in the enum's order, so a row is found by index.
constexpr bool inEnumOrder() {
  for (size_t i = 0; i < std::size(kErrors); ++i) {
    if (static_cast<size_t>(kErrors[i].msg) != i) return false;
  }
  return std::size(kErrors) == static_cast<size_t>(Msg::kCriteriaTypeMismatch) + 1;
}
static_assert(inEnumOrder(), "every error has one row, in the enum's order");

const Row& rowOf(Msg msg) {
  return kErrors[static_cast<size_t>(msg)];
}

}  // namespace

int errorNumber(Msg msg) {
  return rowOf(msg).number;
}

std::string errorText(Msg msg, std::initializer_list<std::string_view> args) {
  std::string out;
  for (const char* p = rowOf(msg).text; *p != '\0'; ++p) {
    const size_t n = static_cast<size_t>(p[1] - '1');
    if (p[0] == '%' && p[1] >= '1' && p[1] <= '9' && n < args.size()) {
      out += args.begin()[n];
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

void throwBadFormat(const std::string& path, const std::string& reason) {
  throw JetError(Msg::kBadFormat, path, reason);
}

}  // namespace jet
