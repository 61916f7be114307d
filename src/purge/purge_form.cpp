#include "purge/purge_form.h"

#include "db/schema.h"

namespace purge {

FormChannels::FormChannels(jet::Os& os)
    : Data1(db::schema::kClientsDesignSource, os),
      Data2(db::schema::kProducts, os),
      Data3(db::schema::kHours, os),
      Data4(db::schema::kDays, os),
      Text2(Data1, db::schema::kClientCode) {
  // The dependent channels work on the client channel's database.
  Data1.addFollower(&Data2);
  Data1.addFollower(&Data3);
  Data1.addFollower(&Data4);
}

void FormChannels::Form_Load(runtime::Runtime& rt, const char* separator) {
  Data1.setDatabaseName(rt.programDir() + separator + db::schema::kDatabaseFile);
  Data1.Refresh();
}

std::optional<int> FormChannels::load(runtime::Runtime& rt, const char* separator) {
  std::optional<int> status = runtime::runEvent(rt, [&] { Form_Load(rt, separator); });
  if (status) rt.endProgram(*status);
  return status;
}

}  // namespace purge
