#include "purge/purge_run.h"

#include <optional>

#include "db/schema.h"
#include "purge/client_batch.h"
#include "purge/pasafecha.h"

namespace purge {

namespace {

struct Dependent {
  db::RecordChannel FormChannels::*channel;
  const char* table;
};

constexpr Dependent kDependents[] = {
    {&FormChannels::Data2, db::schema::kProducts},
    {&FormChannels::Data3, db::schema::kHours},
    {&FormChannels::Data4, db::schema::kDays},
};

}  // namespace

void deleteAll(db::Recordset& rs) {
  if (rs.isEOF() && rs.isBOF()) return;
  while (!rs.isEOF()) {
    rs.Delete();
    if (!rs.isEOF()) rs.MoveNext();
  }
}

void runPurge(runtime::Runtime& rt, PurgeForm& form, const BatchLimits& batching) {
  // 1. The date box holds the date the purge will use.
  runtime::Variant texto = form.Text1();
  form.setText1(rt.text(pasafecha(rt, texto)));

  // 2. The backup reminder; No ends the program.
  if (rt.MsgBox(kBackupPrompt, kBackupStyle, std::string(kBackupTitle)) == runtime::kResultNo) {
    rt.End();
  }

  // 3-5. The selection; an empty one ends the run silently.
  FormChannels& channels = form.channels();
  db::RecordChannel& data1 = channels.Data1;
  data1.setRecordSource(kSelectionStart + rt.format(form.Text1(), "mm-dd-yyyy") + "#");
  data1.Refresh();
  if (data1.recordset().isEOF() && data1.recordset().isBOF()) return;

  // 6-9. Count, and set the bar's range.
  rt.setMousePointer(runtime::kPointerHourglass);
  data1.recordset().MoveFirst();
  data1.recordset().MoveLast(0);
  const long count = data1.recordset().RecordCount();
  form.setBar1Value(0);
  form.setBar1Max(static_cast<float>(count));
  data1.recordset().MoveFirst();

  // 10. Each client with its dependent rows, whole or not at all.
  int drawn = form.Bar1DrawnLength();
  ClientBatch batch(data1.recordset().database(), batching);
  while (!data1.recordset().isEOF()) {
    batch.beginClient();
    for (const Dependent& dep : kDependents) {
      const std::string code = runtime::Trim(rt.Str(form.Text2()));
      db::RecordChannel& channel = channels.*dep.channel;
      channel.setRecordSource(std::string("Select * from ") + dep.table +
                              " where codcli = " + code);
      channel.Refresh();
      deleteAll(channel.recordset());
    }
    form.setBar1Value(rt.addSingle(form.Bar1Value(), 1.0f));
    // The frame is repainted when the bar's drawn length changes, and after the last client.
    const bool last = form.Bar1Value() >= static_cast<float>(count);
    if (form.Bar1DrawnLength() != drawn || last) {
      drawn = form.Bar1DrawnLength();
      rt.refreshControl("Frame1");
    }
    data1.recordset().Delete();
    batch.endClient();
    if (!data1.recordset().isEOF()) data1.recordset().MoveNext();
  }
  batch.finish();

  // 11-12.
  rt.setMousePointer(runtime::kPointerDefault);
  rt.MsgBox(kDoneMessage, runtime::kOkOnly);
}

}  // namespace purge
