#pragma once

#include <memory>
#include <optional>
#include <string>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/common/sensitive_data_trace_policy.h"
#include "component/sendara/base/detail/storages/i_value_storage.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_connection.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_query_executor.h"

namespace sendara::base::storages {

// A value storage in one SQLite file. Every operation repairs a corrupt file
// once (its rows are lost) and runs again.
class ValueStorage final : public IValueStorage {
 public:
  ValueStorage(oru::RefPtr<oru::ITracer> tracer, SensitiveDataTracePolicy policy,
               std::shared_ptr<SqliteConnection> connection, std::shared_ptr<SqliteQueryExecutor> executor,
               std::optional<std::string> name = std::nullopt);

  void Clear() override;
  std::uint64_t Count() override;
  std::uint64_t GetSize() override;
  Iterator CreateIterator() override;
  // A batch larger than the connection's parameter limit is written by
  // several statements in one transaction: still all or nothing.
  void Insert(std::span<const std::string> values) override;
  std::int64_t Insert(std::string_view value) override;
  void DeleteById(std::int64_t id) override;
  // All or nothing, whatever the number of ids.
  void DeleteByIds(std::span<const std::int64_t> ids) override;
  std::optional<Line> GetFront() override;
  std::optional<Line> GetBack() override;

 private:
  template <class Action>
  auto Execute(Action&& action);
  std::optional<Line> ReadOneLine(const char* sql);
  std::uint64_t CountIdRange(const SqliteHandle& handle, std::int64_t first, std::int64_t last);

  const oru::RefPtr<oru::ITracer> m_tracer;
  const SensitiveDataTracePolicy m_policy;
  const std::shared_ptr<SqliteConnection> m_connection;
  const std::shared_ptr<SqliteQueryExecutor> m_executor;
  const std::string m_name;
};

}  // namespace sendara::base::storages
