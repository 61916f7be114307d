#include "purge/purge_form.h"

#include "db/schema.h"

namespace purge {

FormChannels::FormChannels()
    : Data1(db::schema::kClientsDesignSource),
      Data2(db::schema::kProducts),
      Data3(db::schema::kHours),
      Data4(db::schema::kDays),
      Text2(Data1, db::schema::kClientCode) {
  // The dependent channels work on the client channel's database.
  Data1.addFollower(&Data2);
  Data1.addFollower(&Data3);
  Data1.addFollower(&Data4);
}

}  // namespace purge
