// Deleting slots on real data pages: for every data page of every table of
// every fixture, each live slot in turn is deleted from a copy of the page;
// the page must stay consistent the way Access keeps it.
#include <gtest/gtest.h>

#include <cstring>

#include "format/data_page.h"
#include "jet/database.h"
#include "support/shared_fixtures.h"

namespace {

uint16_t get16(const std::vector<uint8_t>& p, size_t o) {
  return static_cast<uint16_t>(p[o] | (p[o + 1] << 8));
}

struct Slot {
  size_t start, end;
  uint16_t flags;
};

std::vector<Slot> slots(const std::vector<uint8_t>& page, const jet::Format& f) {
  std::vector<Slot> out;
  uint16_t n = get16(page, f.data_row_count);
  for (uint16_t i = 0; i < n; ++i) {
    uint16_t s = get16(page, f.data_slots + 2u * i);
    size_t end = i == 0 ? f.page_size : (get16(page, f.data_slots + 2u * (i - 1)) & 0x1FFF);
    out.push_back({static_cast<size_t>(s & 0x1FFF), end, static_cast<uint16_t>(s & 0xE000)});
  }
  return out;
}

// The free-space count Access keeps: the page less its header, slots and rows.
size_t computedFree(const std::vector<uint8_t>& page, const jet::Format& f) {
  size_t used = 0;
  for (const Slot& s : slots(page, f)) used += s.end - s.start;
  return f.page_size - (f.data_slots + 2 * slots(page, f).size()) - used;
}

TEST(SlotDelete, KeepsEveryRealDataPageConsistent) {
  REQUIRE_FIXTURES();
  size_t pages_checked = 0, deletions = 0;
  for (const auto& file : testsupport::allFixtures()) {
    jet::Database db(file.string());
    const jet::Format& f = db.format();
    for (const std::string& name : db.tableNames()) {
      jet::Table t = db.table(name);
      for (uint32_t pg : t.dataPages()) {
        jet::ByteView v = db.pages().page(pg);
        const std::vector<uint8_t> before(v.data(), v.data() + v.size());
        const std::vector<Slot> old = slots(before, f);
        ++pages_checked;
        for (uint16_t r = 0; r < old.size(); ++r) {
          if (old[r].flags & 0x8000) continue;
          std::vector<uint8_t> page = before;
          ASSERT_TRUE(jet::deleteSlot(page.data(), f, r)) << file << " page " << pg << " row " << r;
          ++deletions;
          const std::vector<Slot> now = slots(page, f);
          ASSERT_EQ(now.size(), old.size()) << "slots are never renumbered";
          EXPECT_EQ(now[r].flags, 0xC000);
          EXPECT_EQ(now[r].start, now[r].end) << "the deleted slot keeps no bytes";
          EXPECT_EQ(get16(page, 2), computedFree(page, f)) << file << " page " << pg;
          EXPECT_EQ(get16(page, 2), get16(before, 2) + (old[r].end - old[r].start));
          for (uint16_t i = 0; i < old.size(); ++i) {
            if (i == r) continue;
            EXPECT_EQ(now[i].flags, old[i].flags);
            ASSERT_EQ(now[i].end - now[i].start, old[i].end - old[i].start) << "row " << i;
            EXPECT_EQ(0, std::memcmp(page.data() + now[i].start, before.data() + old[i].start,
                                     old[i].end - old[i].start))
                << file << " page " << pg << ": row " << i << " lost its bytes deleting " << r;
          }
          EXPECT_EQ(0, std::memcmp(page.data(), before.data(), 2));
          EXPECT_EQ(0, std::memcmp(page.data() + 4, before.data() + 4, f.data_row_count - 2))
              << "only the free count changes in the header";
        }
      }
    }
  }
  EXPECT_GT(pages_checked, 100u);
  EXPECT_GT(deletions, 5000u);
}

TEST(SlotDelete, RefusesAPageWhoseSlotsLieOutsideIt) {
  const jet::Format& f = jet::formatFor(jet::Version::Jet4);
  std::vector<uint8_t> page(f.page_size, 0);
  page[0] = 0x01;
  page[1] = 0x01;
  page[f.data_row_count] = 2;
  page[f.data_slots] = 0x00;  // row 0 starts at 0x0F00
  page[f.data_slots + 1] = 0x0F;
  page[f.data_slots + 2] = 0x00;  // row 1 starts past row 0's start: not a valid page
  page[f.data_slots + 3] = 0x10;
  const std::vector<uint8_t> before = page;
  EXPECT_FALSE(jet::deleteSlot(page.data(), f, 1));
  EXPECT_EQ(page, before);
}

}  // namespace
