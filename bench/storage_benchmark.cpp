// The persistent store next to bare sqlite3 calls doing the same work on the
// same settings: 1024-row packages in, then iterated and deleted by id.
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/json/serialize.hpp>

#include "component/sendara/base/detail/storages/partitioned_value_storage.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/stored_value_reader.h"
#include "sample_event.h"

namespace {

using namespace sendara::base::storages;
using sendara::edr_telemetry::telemetry::StoredValueReader;

constexpr std::size_t kPackage = 1024;

std::filesystem::path FreshDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "edr_bench_XXXXXX").string();
  if (!::mkdtemp(pattern.data())) std::abort();
  return pattern;
}

// One package of events in the stored form.
const std::vector<std::string>& Package() {
  static const std::vector<std::string> package = [] {
    const std::string value = boost::json::serialize(boost::json::object{{"severity", 0}, {"text", bench::kEvent}});
    return std::vector<std::string>(kPackage, value);
  }();
  return package;
}

// Every benchmark keeps one row below its packages, as a store that is never
// drained completely does: an emptied partition would be deleted and the
// next package would pay for a new database file.
const std::vector<std::string> kKeeper = {"{\"severity\":0,\"text\":\"kept\"}"};

// The same statements and settings as the store, without the store.
class BareDatabase {
 public:
  explicit BareDatabase(const std::filesystem::path& file) {
    sqlite3_open(file.c_str(), &m_db);
    sqlite3_exec(m_db,
                 "PRAGMA auto_vacuum = INCREMENTAL; PRAGMA journal_mode = WAL; PRAGMA synchronous = OFF; "
                 "PRAGMA secure_delete = FALSE; CREATE TABLE IF NOT EXISTS value_storage "
                 "(id INTEGER PRIMARY KEY AUTOINCREMENT, value TEXT);",
                 nullptr, nullptr, nullptr);
  }
  ~BareDatabase() { sqlite3_close(m_db); }

  void Insert(const std::vector<std::string>& values) {
    std::string sql = "INSERT INTO value_storage (value) VALUES ";
    for (std::size_t i = 0; i < values.size(); ++i) sql += i ? ",(?)" : "(?)";
    sql += ";";
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr);
    for (std::size_t i = 0; i < values.size(); ++i) {
      sqlite3_bind_text(statement, static_cast<int>(i + 1), values[i].data(), static_cast<int>(values[i].size()),
                        SQLITE_STATIC);
    }
    sqlite3_step(statement);
    sqlite3_finalize(statement);
  }

  std::size_t IterateAndDelete() {
    std::vector<std::int64_t> ids;
    std::size_t bytes = 0;
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(m_db, "SELECT * FROM value_storage;", -1, &statement, nullptr);
    bool keeper = true;
    while (sqlite3_step(statement) == SQLITE_ROW) {
      if (!std::exchange(keeper, false)) ids.push_back(sqlite3_column_int64(statement, 0));
      std::string value(reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)),
                        static_cast<std::size_t>(sqlite3_column_bytes(statement, 1)));
      bytes += value.size();
    }
    sqlite3_finalize(statement);
    std::string sql = "DELETE FROM value_storage WHERE id IN (";
    for (std::size_t i = 0; i < ids.size(); ++i) sql += i ? ",?" : "?";
    sql += ");";
    sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr);
    for (std::size_t i = 0; i < ids.size(); ++i) sqlite3_bind_int64(statement, static_cast<int>(i + 1), ids[i]);
    sqlite3_step(statement);
    sqlite3_finalize(statement);
    return bytes;
  }

 private:
  sqlite3* m_db = nullptr;
};

std::shared_ptr<PartitionedValueStorage> OpenStore(const std::filesystem::path& directory) {
  auto store = CreatePersistentStorage(directory, nullptr, {}, PartitionSizeBytes(25), 40, 4);
  store->Insert(kKeeper);
  return store;
}

std::size_t IterateAndDelete(PartitionedValueStorage& store) {
  std::vector<PartitionedId> ids;
  std::size_t bytes = 0;
  bool keeper = true;
  for (const PartitionedRow& row : store) {
    if (!std::exchange(keeper, false)) ids.push_back(row.id);
    bytes += row.value.size();
  }
  store.DeleteByIds(ids);
  return bytes;
}

void BM_StoreInsert(benchmark::State& state) {
  const auto directory = FreshDirectory();
  {
    auto store = OpenStore(directory);
    for (auto _ : state) {
      store->Insert(Package());
      state.PauseTiming();
      IterateAndDelete(*store);
      state.ResumeTiming();
    }
  }
  std::filesystem::remove_all(directory);
  state.SetItemsProcessed(state.iterations() * kPackage);
}
BENCHMARK(BM_StoreInsert)->Unit(benchmark::kMillisecond);

void BM_BareInsert(benchmark::State& state) {
  const auto directory = FreshDirectory();
  {
    BareDatabase db(directory / "telemetry-0.db");
    db.Insert(kKeeper);
    for (auto _ : state) {
      db.Insert(Package());
      state.PauseTiming();
      db.IterateAndDelete();
      state.ResumeTiming();
    }
  }
  std::filesystem::remove_all(directory);
  state.SetItemsProcessed(state.iterations() * kPackage);
}
BENCHMARK(BM_BareInsert)->Unit(benchmark::kMillisecond);

void BM_StoreIterateAndDelete(benchmark::State& state) {
  const auto directory = FreshDirectory();
  {
    auto store = OpenStore(directory);
    for (auto _ : state) {
      state.PauseTiming();
      store->Insert(Package());
      state.ResumeTiming();
      benchmark::DoNotOptimize(IterateAndDelete(*store));
    }
  }
  std::filesystem::remove_all(directory);
  state.SetItemsProcessed(state.iterations() * kPackage);
}
BENCHMARK(BM_StoreIterateAndDelete)->Unit(benchmark::kMillisecond);

// A drain as the sending pass does it: the event text read out of each row
// into the package, then the rows deleted. Compare with
// BM_BareIterateAndDelete.
void BM_StoreDrain(benchmark::State& state) {
  const auto directory = FreshDirectory();
  {
    auto store = OpenStore(directory);
    StoredValueReader reader;
    // Kept from package to package, as the sending pass keeps it.
    std::string package;
    for (auto _ : state) {
      state.PauseTiming();
      store->Insert(Package());
      state.ResumeTiming();
      std::vector<PartitionedId> ids;
      package.clear();
      bool keeper = true;
      for (const PartitionedRow& row : *store) {
        if (std::exchange(keeper, false)) continue;
        if (const std::optional<std::string_view> text = reader.Text(row.value)) package += *text;
        ids.push_back(row.id);
      }
      store->DeleteByIds(ids);
      benchmark::DoNotOptimize(package.data());
    }
  }
  std::filesystem::remove_all(directory);
  state.SetItemsProcessed(state.iterations() * kPackage);
}
BENCHMARK(BM_StoreDrain)->Unit(benchmark::kMillisecond);

void BM_BareIterateAndDelete(benchmark::State& state) {
  const auto directory = FreshDirectory();
  {
    BareDatabase db(directory / "telemetry-0.db");
    db.Insert(kKeeper);
    for (auto _ : state) {
      state.PauseTiming();
      db.Insert(Package());
      state.ResumeTiming();
      benchmark::DoNotOptimize(db.IterateAndDelete());
    }
  }
  std::filesystem::remove_all(directory);
  state.SetItemsProcessed(state.iterations() * kPackage);
}
BENCHMARK(BM_BareIterateAndDelete)->Unit(benchmark::kMillisecond);

}  // namespace
