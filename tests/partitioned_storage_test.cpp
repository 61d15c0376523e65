#include <fstream>
#include <memory>
#include <system_error>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "component/platform/file_lock.h"
#include "component/sendara/base/detail/common/internal_exception.h"
#include "component/sendara/base/detail/common/tools_exception.h"
#include "component/sendara/base/detail/storages/partitioned_value_storage.h"
#include "component/sendara/base/detail/storages/persistent_storage_registry.h"
#include "host/tracer.h"
#include "temp_directory.h"

namespace {

using namespace sendara::base;
using namespace sendara::base::storages;

class PartitionedStorageTest : public ::testing::Test {
 protected:
  std::shared_ptr<PartitionedValueStorage> Open(std::uint64_t maxSize = 1 << 30, std::uint32_t maxCount = 40,
                                                std::uint32_t removeCount = 4) {
    return CreatePersistentStorage(m_dir.Path(), oru::RefPtr<oru::ITracer>(m_tracer.Get()), {}, maxSize, maxCount,
                                   removeCount);
  }
  std::filesystem::path Queues() const { return m_dir.Path() / "queues"; }
  bool HasPartition(int id) const {
    return std::filesystem::exists(Queues() / ("telemetry-" + std::to_string(id) + ".db"));
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Queues())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  static std::vector<PartitionedRow> Rows(PartitionedValueStorage& storage) {
    std::vector<PartitionedRow> rows;
    for (const auto& row : storage) rows.push_back(row);
    return rows;
  }
  static void Insert(PartitionedValueStorage& storage, std::string value) {
    storage.Insert(std::vector<std::string>{std::move(value)});
  }

  TempDirectory m_dir;
  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create(700);
};

TEST_F(PartitionedStorageTest, RowsGoToTheNewestPartitionAndComeBackInOrder) {
  auto storage = Open();
  EXPECT_TRUE(Rows(*storage).empty());
  Insert(*storage, "a");
  Insert(*storage, "b");
  EXPECT_TRUE(HasPartition(0));
  const auto rows = Rows(*storage);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].id, (PartitionedId{0, 2}));
  EXPECT_EQ(rows[1].value, "b");
}

TEST_F(PartitionedStorageTest, ExistingFilesAreNumberedOn) {
  std::filesystem::create_directories(Queues());
  for (const char* name : {"telemetry-3.db", "telemetry-10.db", "telemetry-x.db", "other.db", "telemetry-07.db",
                           "telemetry-18446744073709551615.db"}) {
    std::ofstream(Queues() / name).flush();
  }
  auto storage = Open(1);  // every partition is full: the next insert starts one
  EXPECT_EQ(m_tracer->Count("failed to parse partition id from telemetry-x.db"), 1u);
  // A second spelling of an id, and an id that leaves no room to number on.
  EXPECT_EQ(m_tracer->Count("failed to parse partition id from telemetry-07.db"), 1u);
  EXPECT_EQ(m_tracer->Count("failed to parse partition id from telemetry-18446744073709551615.db"), 1u);
  EXPECT_EQ(m_tracer->Count("] partition 3"), 1u);
  EXPECT_EQ(m_tracer->Count("] partition 10"), 1u);
  Insert(*storage, "a");
  EXPECT_TRUE(HasPartition(11));
  EXPECT_EQ(Rows(*storage)[0].id.partitionId, 11u);
}

// The rows of the removed partitions are counted lost.
TEST_F(PartitionedStorageTest, CountLimitRemovesTheOldestInTheSameInsert) {
  auto storage = Open(1, 3, 2);
  storage->Insert(std::vector<std::string>{"p0", "p0b"});
  for (const char* value : {"p1", "p2"}) Insert(*storage, value);
  EXPECT_TRUE(HasPartition(0) && HasPartition(1) && HasPartition(2));
  EXPECT_EQ(storage->LostRows(), 0u);
  Insert(*storage, "p3");  // a fourth partition: the two oldest go
  EXPECT_FALSE(HasPartition(0));
  EXPECT_FALSE(HasPartition(1));
  EXPECT_EQ(storage->LostRows(), 3u);
  EXPECT_EQ(m_tracer->LinesContaining("partition 0 removed with its 2 events").size(), 1u);
  const auto rows = Rows(*storage);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].value, "p2");
  EXPECT_EQ(rows[1].value, "p3");
}

// Emptied partitions go; their numbers are not given again while the store
// lives, so ids of rows already deleted (held by another user of the store,
// which sent them too) never delete rows of a newer partition.
TEST_F(PartitionedStorageTest, EmptiedPartitionsGoAndTheirNumbersAreNotReused) {
  auto storage = Open(1);
  for (const char* value : {"p0", "p1", "p2"}) Insert(*storage, value);
  const auto rows = Rows(*storage);
  storage->DeleteByIds(std::vector<PartitionedId>{rows[0].id, rows[1].id});
  EXPECT_EQ(Files(), (std::vector<std::string>{"telemetry-2.db", "telemetry-2.db-shm", "telemetry-2.db-wal"}));

  storage->DeleteByIds(std::vector<PartitionedId>{rows[2].id, {7, 1}});
  EXPECT_TRUE(Files().empty());
  EXPECT_EQ(m_tracer->Count("can't delete 1 ids from partition #7"), 1u);
  Insert(*storage, "again");
  EXPECT_EQ(Rows(*storage)[0].id, (PartitionedId{3, 1}));
  storage->DeleteByIds(std::vector<PartitionedId>{rows[0].id});
  ASSERT_EQ(Rows(*storage).size(), 1u);
  EXPECT_EQ(Rows(*storage)[0].value, "again");
}

TEST_F(PartitionedStorageTest, OpenIteratorKeepsItsPartitionFromRemoval) {
  auto storage = Open(1);
  Insert(*storage, "p0");
  Insert(*storage, "p1");
  auto it = storage->CreateIterator();
  try {
    it.Current();  // no row before the first Next
    FAIL() << "no exception";
  } catch (const internal_exception& e) {
    EXPECT_EQ(e.Code(), oru::rc::InvalidState);
  }
  ASSERT_TRUE(it.Next());
  const PartitionedId first = it.Current().id;
  storage->DeleteByIds(std::vector<PartitionedId>{first});
  EXPECT_TRUE(HasPartition(0));  // the iterator sits in it
  EXPECT_EQ(m_tracer->Count("partition is used by someone, can't update it; id: 0"), 1u);

  ASSERT_TRUE(it.Next());  // moves to partition 1, letting go of 0
  EXPECT_EQ(it.Current().value, "p1");
  storage->DeleteByIds(std::vector<PartitionedId>{});
  EXPECT_FALSE(HasPartition(0));
  EXPECT_FALSE(it.Next());
}

TEST_F(PartitionedStorageTest, ClearRemovesEverythingButWhatIsInUse) {
  auto storage = Open(1);
  for (const char* value : {"p0", "p1", "p2"}) Insert(*storage, value);
  {
    auto it = storage->CreateIterator();
    ASSERT_TRUE(it.Next());  // holds partition 0
    storage->Clear();
    EXPECT_EQ(m_tracer->Count("failed to remove partition, start clear it; id: 0"), 1u);
  }
  EXPECT_TRUE(Rows(*storage).empty());
  EXPECT_TRUE(HasPartition(0));
  EXPECT_FALSE(HasPartition(1));
}

// Every user of a folder in the process shares one store, however the
// folder is spelt: one that empties a partition deletes no file another
// still writes to. A folder locked by another process is refused.
TEST_F(PartitionedStorageTest, OneStorePerFolderAndNoneOnAFolderAnotherProcessHolds) {
  auto writer = Open();
  auto sender = CreatePersistentStorage(m_dir.Path() / "." / "", oru::RefPtr<oru::ITracer>(m_tracer.Get()), {},
                                        1 << 20, 40, 4);
  EXPECT_EQ(writer, sender);
  for (int i = 0; i < 50; ++i) Insert(*writer, "first " + std::to_string(i));
  std::vector<PartitionedId> sent;
  for (const PartitionedRow& row : Rows(*sender)) sent.push_back(row.id);
  sender->DeleteByIds(sent);
  for (int i = 0; i < 50; ++i) Insert(*writer, "second " + std::to_string(i));
  writer.reset();
  sender.reset();
  auto reopened = Open();
  const std::vector<PartitionedRow> rows = Rows(*reopened);
  ASSERT_EQ(rows.size(), 50u);
  EXPECT_EQ(rows.front().value, "second 0");
  reopened.reset();

  // Another process's hold, as the system sees it: another open of the file, locked.
  std::unique_ptr<platform::FileLock> other;
  std::error_code lockError;
  ASSERT_EQ(platform::FileLock::Acquire(m_dir.Path() / PersistentStorageRegistry::kLockFileName, other, lockError),
            platform::FileLock::Outcome::kLocked)
      << lockError.message();
  try {
    Open();
    ADD_FAILURE() << "a folder another process holds was opened";
  } catch (const tools_exception& e) {
    EXPECT_EQ(e.Code(), oru::rc::Locked);
    EXPECT_NE(e.ToString().find(m_dir.Path().string()), std::string::npos);
  }
  other.reset();
  EXPECT_EQ(Rows(*Open()).size(), 50u);
}

// A partition whose file cannot be made is never listed: the store stays
// readable (empty), and takes rows once the folder can be written.
TEST_F(PartitionedStorageTest, APartitionThatCannotBeMadeIsNotListed) {
  auto storage = Open();
  std::ofstream(Queues()).flush();  // a file where the folder should be
  EXPECT_ANY_THROW(Insert(*storage, "refused"));
  EXPECT_TRUE(Rows(*storage).empty());
  std::filesystem::remove(Queues());
  Insert(*storage, "taken");
  ASSERT_EQ(Rows(*storage).size(), 1u);
  EXPECT_EQ(Rows(*storage)[0].value, "taken");
}

TEST(PartitionSize, MebibytesBecomeBytesWithoutWrapping) {
  EXPECT_EQ(PartitionSizeBytes(25), 25u * 1048576u);
  EXPECT_EQ(PartitionSizeBytes(4096), 4294967296u);
  EXPECT_EQ(PartitionSizeBytes(0xFFFFFFFFu), 0xFFFFFFFFull << 20);
}

}  // namespace
