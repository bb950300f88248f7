// Target lists kept in step with an effect's targets through the module's
// record callbacks, with a record type that owns a heap array like the module's.
#include <gtest/gtest.h>

#include <set>

#include "host_test_support.h"

namespace {

using host::Host;

// 24 bytes, not the module's TargetEntry size: the table must use the size given.
struct FakeRecord {
  uint32_t object;
  uint32_t serial;
  int* owned;  // shared between slots after a Copy
  uint64_t pad;
};

struct Ledger {
  int inits = 0, frees = 0, copies = 0;
  std::set<int*> live;
  std::vector<std::string> problems;
};
Ledger* recordLedger = nullptr;

FakeRecord& At(void* records, int32_t index) { return static_cast<FakeRecord*>(records)[index]; }

void Init(void* records, int32_t index, uint32_t object) {
  FakeRecord& record = At(records, index);
  if (record.owned || record.object) recordLedger->problems.push_back("Init of a used slot");
  record.object = object;
  record.serial = static_cast<uint32_t>(++recordLedger->inits);
  record.owned = new int(static_cast<int>(object));
  recordLedger->live.insert(record.owned);
}

void Free(void* records, int32_t index) {
  FakeRecord& record = At(records, index);
  if (!recordLedger->live.erase(record.owned)) recordLedger->problems.push_back("Free of a record not alive");
  delete record.owned;
  record.owned = nullptr;
  ++recordLedger->frees;
}

void Copy(void* from, int32_t fromIndex, void* to, int32_t toIndex) {
  At(to, toIndex) = At(from, fromIndex);
  ++recordLedger->copies;
}

class TargetList : public ::testing::Test {
 protected:
  TargetList() { recordLedger = &ledger; }
  ~TargetList() override {
    EXPECT_EQ(ledger.problems, std::vector<std::string>{});
    recordLedger = nullptr;
  }

  TargetTable* newTable(uint32_t effect) {
    return static_cast<TargetTable*>(
        create(effect, 0, 0, &Init, &Free, &Copy, static_cast<int32_t>(sizeof(FakeRecord)), 0));
  }
  std::vector<uint32_t> objectsOf(const TargetTable* table) {
    std::vector<uint32_t> objects;
    for (int i = 0; i < table->count; ++i) objects.push_back(At(table->records, i).object);
    return objects;
  }

  Ledger ledger;
  Host host;
  uint32_t a = host.addObject("a", host_test::Cube());
  uint32_t b = host.addObject("b", host_test::Cube());
  uint32_t c = host.addObject("c", host_test::Cube());
  uint32_t d = host.addObject("d", host_test::Cube());
  useful_CreateTargetList_fn create = host_test::Resolve<useful_CreateTargetList_fn>("useful_CreateTargetList");
  useful_FetchTargetList_fn fetch = host_test::Resolve<useful_FetchTargetList_fn>("useful_FetchTargetList");
  useful_TargetListEffectUpdate_fn update =
      host_test::Resolve<useful_TargetListEffectUpdate_fn>("useful_TargetListEffectUpdate");
  useful_DeleteTargetList_fn remove = host_test::Resolve<useful_DeleteTargetList_fn>("useful_DeleteTargetList");
};

TEST_F(TargetList, CreateFillsOneRecordPerTargetAndFetchFindsIt) {
  const uint32_t effect = host.createEffect({a, b, c});
  TargetTable* table = newTable(effect);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(objectsOf(table), (std::vector<uint32_t>{a, b, c}));
  EXPECT_EQ(ledger.inits, 3);
  EXPECT_EQ(fetch(effect, 0), table);
  EXPECT_EQ(fetch(effect + 1000, 0), nullptr);
  remove(table);
  EXPECT_EQ(ledger.frees, 3);
  EXPECT_TRUE(ledger.live.empty());
  EXPECT_EQ(fetch(effect, 0), nullptr);
}

TEST_F(TargetList, UpdateMovesKeptRecordsInitsNewOnesAndFreesDroppedOnes) {
  const uint32_t effect = host.createEffect({a, b, c});
  TargetTable* table = newTable(effect);
  int* ownedByA = At(table->records, 0).owned;
  int* ownedByC = At(table->records, 2).owned;

  host.setTargets(effect, {c, a, d});
  update(table);
  EXPECT_EQ(objectsOf(table), (std::vector<uint32_t>{c, a, d}));
  EXPECT_EQ(ledger.copies, 2);
  EXPECT_EQ(ledger.inits, 4);
  EXPECT_EQ(ledger.frees, 1);  // b
  EXPECT_EQ(At(table->records, 0).owned, ownedByC);
  EXPECT_EQ(At(table->records, 1).owned, ownedByA);
  EXPECT_EQ(ledger.live.size(), 3u);

  // Nothing changed: no callbacks
  update(table);
  EXPECT_EQ(ledger.copies + ledger.inits + ledger.frees, 7);

  // Everything dropped, then the same object twice
  host.setTargets(effect, {});
  update(table);
  EXPECT_EQ(table->count, 0);
  EXPECT_TRUE(ledger.live.empty());
  host.setTargets(effect, {b, b});
  update(table);
  EXPECT_EQ(objectsOf(table), (std::vector<uint32_t>{b, b}));
  host.setTargets(effect, {b});
  update(table);
  EXPECT_EQ(ledger.live.size(), 1u);

  remove(table);
  EXPECT_TRUE(ledger.live.empty());
  EXPECT_EQ(ledger.inits, ledger.frees);
}

TEST_F(TargetList, ManyRandomUpdatesNeverLeakOrFreeTwice) {
  const uint32_t effect = host.createEffect({});
  TargetTable* table = newTable(effect);
  const uint32_t objects[] = {a, b, c, d};
  uint32_t state = 12345;
  for (int round = 0; round < 200; ++round) {
    std::vector<uint32_t> targets;
    state = state * 1103515245u + 12345u;
    for (int k = 0; k < int(state >> 28) % 6; ++k) targets.push_back(objects[(state >> (k * 3)) % 4]);
    host.setTargets(effect, targets);
    update(table);
    ASSERT_EQ(objectsOf(table), targets);
    ASSERT_EQ(ledger.live.size(), targets.size());
  }
  remove(table);
  EXPECT_TRUE(ledger.live.empty());
}

TEST_F(TargetList, UnknownTablesAndBadSizesAreIgnored) {
  const uint32_t effect = host.createEffect({a});
  EXPECT_EQ(create(effect, 0, 0, &Init, &Free, &Copy, 0, 0), nullptr);
  TargetTable bogus{};
  update(&bogus);
  remove(&bogus);
  update(nullptr);
  remove(nullptr);
  EXPECT_EQ(ledger.inits + ledger.frees + ledger.copies, 0);
}

}  // namespace
