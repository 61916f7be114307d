#include "purge/purge_run.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "db/schema.h"
#include "jet/error.h"
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

// Asks the dependent tables ahead for the rows of the clients to come, a
// run of clients at a time, in the order of their codcli indexes: asked in
// the order of the client table, each question would read another leaf of
// a large index, long gone from the cache since it was last read. Only
// reading is done ahead; each client's rows are still asked for, and
// deleted, in its turn.
class LookAhead {
 public:
  void before(const db::Recordset& clients) {
    if (left_ > 0) {
      --left_;
      return;
    }
    std::vector<int64_t> codes;
    codes.reserve(kRun);
    try {
      clients.readAhead(db::schema::kClientCode, kRun, [&](const jet::Value& v) {
        if (v.kind() == jet::Value::Kind::Int) codes.push_back(v.asInt());
      });
    } catch (const jet::JetError&) {
      return;  // it fails again where the run reads it, in its turn
    }
    left_ = kRun - 1;
    prepare(clients.database(), codes);
  }

  // Forgets the answers asked ahead, before the commit needs the memory.
  void finish(const db::Recordset& clients) { prepare(clients.database(), {}); }

 private:
  static void prepare(jet::Database& database, const std::vector<int64_t>& codes) {
    for (const Dependent& dep : kDependents) {
      try {
        const jet::Table table = database.table(dep.table);
        if (auto column = table.def().findColumn(db::schema::kDependentClientCode)) {
          database.prepareLookup(table, *column, codes);
        }
      } catch (const jet::JetError&) {
        // As above: the run's own question fails in its turn.
      }
    }
  }

  static constexpr size_t kRun = 131072;
  size_t left_ = 0;
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
  LookAhead ahead;
  while (!data1.recordset().isEOF()) {
    batch.beginClient();
    ahead.before(data1.recordset());
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
  ahead.finish(data1.recordset());
  batch.finish();

  // 11-12.
  rt.setMousePointer(runtime::kPointerDefault);
  rt.MsgBox(kDoneMessage, runtime::kOkOnly);
}

}  // namespace purge
