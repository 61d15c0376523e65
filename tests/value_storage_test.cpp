#include <sqlite3.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "component/sendara/base/detail/common/sqlite_corrupt_exception.h"
#include "component/sendara/base/detail/common/sqlite_exception.h"
#include "component/sendara/base/detail/storages/sqlite/execute_with_repair.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_blocking_call.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_error.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_value_storage_scheme.h"
#include "component/sendara/base/detail/storages/sqlite/value_iterator.h"
#include "component/sendara/base/detail/storages/sqlite/value_storage.h"
#include "host/sensitive_data_policy.h"
#include "host/tracer.h"
#include "temp_directory.h"

namespace {

using namespace sendara::base;
using namespace sendara::base::storages;

// Runs SQL on the file directly, as another program would.
std::int64_t RawQuery(const std::filesystem::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(reinterpret_cast<const char*>(file.u8string().c_str()), &db), SQLITE_OK);
  std::int64_t value = -1;
  sqlite3_stmt* statement = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  if (sqlite3_step(statement) == SQLITE_ROW) value = sqlite3_column_int64(statement, 0);
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return value;
}

class ValueStorageTest : public ::testing::Test {
 protected:
  std::unique_ptr<ValueStorage> Open(oru::RefPtr<oru::ISensitiveDataPolicy> policy = {}) {
    auto executor = std::make_shared<SqliteQueryExecutor>(Tracer());
    m_connection = std::make_shared<SqliteConnection>(
        Tracer(), m_file, executor, std::make_shared<SqliteValueStorageScheme>(Tracer(), executor));
    return std::make_unique<ValueStorage>(Tracer(), SensitiveDataTracePolicy(std::move(policy)), m_connection,
                                          executor, "test");
  }
  oru::RefPtr<oru::ITracer> Tracer() { return oru::RefPtr<oru::ITracer>(m_tracer.Get()); }
  static std::vector<std::int64_t> Ids(IValueStorage& storage) {
    std::vector<std::int64_t> ids;
    for (const auto& line : storage) ids.push_back(line.id);
    return ids;
  }

  TempDirectory m_dir;
  std::filesystem::path m_file = m_dir.Path() / "telemetry-0.db";
  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create(700);
  std::shared_ptr<SqliteConnection> m_connection;
};

TEST_F(ValueStorageTest, NewFileGetsItsSettingsWithoutVacuum) {
  auto storage = Open();
  EXPECT_EQ(storage->Count(), 0u);
  EXPECT_EQ(m_tracer->Count("auto_vacuum mode not INCREMENTAL"), 0u);
  EXPECT_EQ(m_tracer->Count("end, storage info: ids range [0, 0]; count = 0"), 1u);
  storage.reset();
  m_connection.reset();
  EXPECT_EQ(RawQuery(m_file, "PRAGMA auto_vacuum;"), 2);
  EXPECT_EQ(RawQuery(m_file, "SELECT count(*) FROM sqlite_master WHERE name = 'value_storage';"), 1);
  // Values are UTF-8 on both sides: the file must not store them as UTF-16.
  EXPECT_EQ(RawQuery(m_file, "SELECT count(*) FROM pragma_encoding WHERE encoding = 'UTF-8';"), 1);
}

TEST_F(ValueStorageTest, OlderFileIsVacuumedOnceIntoIncrementalMode) {
  RawQuery(m_file, "CREATE TABLE value_storage (id INTEGER PRIMARY KEY AUTOINCREMENT, value TEXT);");
  RawQuery(m_file, "INSERT INTO value_storage (value) VALUES ('kept');");
  ASSERT_EQ(RawQuery(m_file, "PRAGMA auto_vacuum;"), 0);
  EXPECT_EQ(Open()->Count(), 1u);
  EXPECT_EQ(m_tracer->Count("auto_vacuum mode not INCREMENTAL, for change mode need execute VACUUM: 0 -> 2"), 1u);
  m_connection.reset();
  EXPECT_EQ(RawQuery(m_file, "PRAGMA auto_vacuum;"), 2);
  EXPECT_EQ(Open()->Count(), 1u);
  EXPECT_EQ(m_tracer->Count("auto_vacuum mode not INCREMENTAL"), 1u);
}

TEST_F(ValueStorageTest, GarbageFileIsReplacedWithAnEmptyDatabase) {
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::ofstream(m_file.string() + suffix) << std::string(8192, 'x');
  }
  auto storage = Open();
  EXPECT_EQ(storage->Insert(std::string_view("first")), 1);
  EXPECT_EQ(storage->Count(), 1u);
  EXPECT_EQ(m_tracer->LinesContaining("Sqlite primary error: 26").size(), 1u);
}

TEST_F(ValueStorageTest, CorruptionDuringAnOperationIsRepairedOnce) {
  auto storage = Open();
  storage->Insert(std::string_view("kept"));
  int runs = 0;
  const auto result = ExecuteWithRepair(m_tracer.Get(), *m_connection, [&](SqliteConnection& connection) {
    if (++runs == 1) ThrowSqliteError(11, "test", __FILE__, __LINE__);
    return connection.GetConnection() != nullptr;
  });
  EXPECT_TRUE(result);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(m_tracer->Count("database corrupt, try repair and create iterator"), 1u);
  EXPECT_EQ(storage->GetFront()->value, "kept");  // what can be read is carried over

  runs = 0;
  EXPECT_THROW(ExecuteWithRepair(m_tracer.Get(), *m_connection,
                                 [&](SqliteConnection&) -> bool {
                                   ++runs;
                                   ThrowSqliteError(26, "test", __FILE__, __LINE__);
                                 }),
               sqlite_corrupt_exception);
  EXPECT_EQ(runs, 2);
}

// A repaired file keeps the ids of the rows it carried over and never hands
// out a lost one again: an iterator goes on where it was. Between batches
// the iterator holds no read open, or the file could not be replaced where
// open files cannot be deleted.
TEST_F(ValueStorageTest, IteratorGoesOnInTheRepairedFile) {
  std::uint64_t lost = 0;
  auto executor = std::make_shared<SqliteQueryExecutor>(Tracer());
  m_connection = std::make_shared<SqliteConnection>(
      Tracer(), m_file, executor, std::make_shared<SqliteValueStorageScheme>(Tracer(), executor),
      [&lost](std::uint64_t count) { lost += count; });
  ValueStorage storage(Tracer(), {}, m_connection, executor, "test");
  const std::int64_t last = ValueIterator::kBatchRows + 2;  // the batch and two rows more
  storage.Insert(std::vector<std::string>(static_cast<std::size_t>(last) + 1, "old"));
  storage.DeleteById(last + 1);
  auto it = storage.CreateIterator();
  ASSERT_TRUE(it.Next());
  {
    const SqliteHandle handle = m_connection->GetConnection();
    for (sqlite3_stmt* statement = sqlite3_next_stmt(handle.get(), nullptr); statement;
         statement = sqlite3_next_stmt(handle.get(), statement)) {
      EXPECT_FALSE(sqlite3_stmt_busy(statement)) << sqlite3_sql(statement);
    }
  }
  m_connection->RepairConnection();
  storage.Insert(std::vector<std::string>{"new"});
  std::vector<std::int64_t> rest;
  while (it.Next()) rest.push_back(it.Current().id);
  ASSERT_EQ(rest.size(), static_cast<std::size_t>(last - 1));
  EXPECT_EQ(rest.front(), 2);
  EXPECT_EQ(rest.back(), last);
  const std::string goesOn = "database was repaired, iteration goes on from id " +
                             std::to_string(ValueIterator::kBatchRows + 1);
  EXPECT_EQ(m_tracer->Count(goesOn), 1u);
  EXPECT_EQ(storage.GetBack()->id, last + 2);  // not last + 1: that id was handed out before
  EXPECT_EQ(lost, 0u);
  m_connection.reset();
  EXPECT_FALSE(std::filesystem::exists(m_file.string() + "-salvage"));
}

// Statements kept prepared from call to call hold no read open between
// calls, and do not keep a replaced file open.
TEST_F(ValueStorageTest, KeptStatementsLetGoOfTheDatabase) {
  auto storage = Open();
  storage->Insert(std::vector<std::string>{"v1", "v2", "v3"});
  storage->DeleteByIds(std::vector<std::int64_t>{1, 3});
  ASSERT_EQ(storage->GetFront()->id, 2);
  ASSERT_EQ(storage->GetBack()->id, 2);
  {
    const SqliteHandle handle = m_connection->GetConnection();
    for (sqlite3_stmt* statement = sqlite3_next_stmt(handle.get(), nullptr); statement;
         statement = sqlite3_next_stmt(handle.get(), statement)) {
      EXPECT_FALSE(sqlite3_stmt_busy(statement)) << sqlite3_sql(statement);
    }
  }

  m_connection->RepairConnection();
  EXPECT_EQ(storage->GetFront()->value, "v2");
  // The old file, deleted by the repair, is closed: nothing refers to it.
  const std::string replaced = m_file.string() + " (deleted)";
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    EXPECT_NE(std::filesystem::read_symlink(entry.path(), error).string(), replaced);
  }
}

TEST_F(ValueStorageTest, RowsInOrderIteratorBoundedByItsCreation) {
  auto storage = Open();
  EXPECT_TRUE(Ids(*storage).empty());
  EXPECT_TRUE(storage->CreateIterator().IsEnd());
  const std::vector<std::string> values = {"v1", "v2", "v3", "v4", "v5", "v6", "v7", "v8", "v9"};
  storage->Insert(values);
  storage->DeleteByIds(std::vector<std::int64_t>{1, 2, 3, 4, 77});
  EXPECT_EQ(storage->GetFront()->id, 5);
  EXPECT_EQ(storage->GetBack()->value, "v9");

  auto it = storage->CreateIterator();
  storage->Insert(std::vector<std::string>{"v10", "v11"});
  std::vector<std::int64_t> seen;
  while (it.Next()) {
    seen.push_back(it.Current().id);
    storage->DeleteById(it.Current().id);  // the sending loop deletes as it goes
  }
  EXPECT_EQ(seen, (std::vector<std::int64_t>{5, 6, 7, 8, 9}));
  EXPECT_THROW(it.Current(), internal_exception);
  EXPECT_EQ(Ids(*storage), (std::vector<std::int64_t>{10, 11}));
  EXPECT_GT(storage->GetSize(), 0u);
  storage->Clear();
  EXPECT_EQ(storage->Count(), 0u);
  EXPECT_FALSE(storage->GetFront().has_value());
}

TEST_F(ValueStorageTest, BatchesBeyondTheParameterLimitAreWholeOrNothing) {
  auto storage = Open();
  sqlite3_limit(m_connection->GetConnection().get(), SQLITE_LIMIT_VARIABLE_NUMBER, 100);
  std::vector<std::string> values;
  for (int i = 0; i < 1000; ++i) values.push_back("value " + std::to_string(i));
  storage->Insert(values);
  EXPECT_EQ(storage->Count(), 1000u);
  EXPECT_EQ(storage->GetBack()->value, "value 999");

  values[950] = "poison";
  m_connection->GetConnection();
  sqlite3_exec(m_connection->GetConnection().get(),
               "CREATE TRIGGER refuse BEFORE INSERT ON value_storage WHEN NEW.value = 'poison' "
               "BEGIN SELECT RAISE(ABORT, 'refused'); END;",
               nullptr, nullptr, nullptr);
  EXPECT_THROW(storage->Insert(values), sqlite_exception);
  EXPECT_EQ(storage->Count(), 1000u);  // none of the second batch

  std::vector<std::int64_t> ids;
  for (std::int64_t id = 1; id <= 1000; ++id) ids.push_back(id);
  storage->DeleteByIds(ids);
  EXPECT_EQ(storage->Count(), 0u);
}

// Ids come in any order, with gaps and repeats; the rows in the gaps stay,
// and a deletion that fails part way deletes nothing.
TEST_F(ValueStorageTest, DeletionTakesExactlyTheIdsGivenAllOrNothing) {
  auto storage = Open();
  storage->Insert(std::vector<std::string>{"v1", "v2", "v3", "v4", "v5", "v6", "v7", "v8", "v9", "v10", "v11"});
  storage->DeleteByIds(std::vector<std::int64_t>{8, 2, 3, 2, 6, 42});
  EXPECT_EQ(Ids(*storage), (std::vector<std::int64_t>{1, 4, 5, 7, 9, 10, 11}));

  sqlite3_exec(m_connection->GetConnection().get(),
               "CREATE TRIGGER refuse BEFORE DELETE ON value_storage WHEN OLD.id = 10 "
               "BEGIN SELECT RAISE(ABORT, 'refused'); END;",
               nullptr, nullptr, nullptr);
  EXPECT_THROW(storage->DeleteByIds(std::vector<std::int64_t>{1, 4, 5, 10}), sqlite_exception);
  EXPECT_EQ(Ids(*storage), (std::vector<std::int64_t>{1, 4, 5, 7, 9, 10, 11}));
}

TEST_F(ValueStorageTest, ItemsAreTracedOnlyWhenThePolicyAllows) {
  m_tracer->SetMaximumLevel(800);
  const auto policy = reference_host::SensitiveDataPolicy::Create(false);
  auto storage = Open(oru::RefPtr<oru::ISensitiveDataPolicy>(policy.Get()));
  storage->Insert(std::vector<std::string>{"secret-a", "secret-b"});
  policy->SetAllowed(true);
  storage->Insert(std::vector<std::string>{"shown"});
  EXPECT_EQ(m_tracer->Count("storage = test; id = 1; item = <sensitive data was hidden>"), 1u);
  EXPECT_EQ(m_tracer->Count("storage = test; id = 2; item = <sensitive data was hidden>"), 1u);
  EXPECT_EQ(m_tracer->Count("storage = test; id = 3; item = shown"), 1u);
  EXPECT_EQ(m_tracer->Count("secret"), 0u);
}

TEST(SqliteErrors, MessageNamesTheKindOfCodeAndCorruptionHasItsOwnClass) {
  try {
    ThrowSqliteError(2067, "fn", "f.cpp", 1);
  } catch (const sqlite_corrupt_exception&) {
    FAIL() << "not a corruption";
  } catch (const sqlite_exception& e) {
    EXPECT_NE(e.Message().find("[fn] failed expression. Sqlite extended error: 2067. Sqlite error desciption: "),
              std::string::npos)
        << e.Message();
    EXPECT_EQ(std::get<std::int64_t>(*e.FindProperty("sqlite_code")), 2067);
  }
  try {
    ThrowSqliteError(19, "fn", "f.cpp", 1);
  } catch (const sqlite_exception& e) {
    EXPECT_NE(e.Message().find("Sqlite primary error: 19."), std::string::npos);
  }
  EXPECT_THROW(ThrowSqliteError(11, "fn", "f.cpp", 1), sqlite_corrupt_exception);
  EXPECT_THROW(ThrowSqliteError(26, "fn", "f.cpp", 1), sqlite_corrupt_exception);
}

TEST(SqliteBlockingCall, RetriesBusyAndLockedThenGivesUp) {
  const auto tracer = reference_host::Tracer::Create(700);
  int calls = 0;
  EXPECT_EQ(sqlite3_blocking_call([&] { return ++calls <= 2 ? SQLITE_BUSY : SQLITE_OK; }, tracer.Get()), SQLITE_OK);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(tracer->Count("call finished with result = 5, repeat 0"), 1u);
  EXPECT_EQ(tracer->Count("call finished with result = 5, repeat 1"), 1u);
  calls = 0;
  EXPECT_EQ(sqlite3_blocking_call([&] { return ++calls, SQLITE_LOCKED; }, nullptr), SQLITE_LOCKED);
  EXPECT_EQ(calls, 11);
}

}  // namespace
