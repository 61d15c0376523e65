#pragma once

#include <memory>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/storages/sqlite/i_sqlite_scheme.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_query_executor.h"

namespace sendara::base::storages {

// The settings and the table of a value storage file: incremental
// auto-vacuum (a VACUUM converts an older file once), WAL journal, no
// synchronous flushing, no secure delete.
class SqliteValueStorageScheme final : public ISqliteScheme {
 public:
  SqliteValueStorageScheme(oru::RefPtr<oru::ITracer> tracer, std::shared_ptr<SqliteQueryExecutor> executor);

  void ApplyScheme(const SqliteHandle& handle) override;
  std::vector<IdRange> CopyReadableRows(const SqliteHandle& damaged, const SqliteHandle& fresh) override;

 private:
  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::shared_ptr<SqliteQueryExecutor> m_executor;
};

}  // namespace sendara::base::storages
