#include "component/sendara/base/detail/storages/partition_storage_manager.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <system_error>

#include "component/oru/exception_to_result.h"
#include "component/platform/system_error.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/tools_exception.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_connection.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_query_executor.h"
#include "component/sendara/base/detail/storages/sqlite/sqlite_value_storage_scheme.h"
#include "component/sendara/base/detail/storages/sqlite/value_storage.h"

namespace sendara::base::storages {
namespace {

constexpr std::string_view kExtension = ".db";

[[noreturn]] void ThrowFileError(std::string_view function, int line, const std::error_code& error,
                                 std::string_view message, const std::filesystem::path& path) {
  tools_exception exception(platform::ResultFromErrorCode(error),
                            "[" + std::string(function) + "] failed expression", __FILE__, line);
  exception.SetProperty(oru::property::kAdditionalInfo, std::string(message));
  exception.SetProperty("path", path.string());
  ThrowNested(std::move(exception));
}

}  // namespace

PartitionStorageManager::PartitionStorageManager(oru::RefPtr<oru::ITracer> tracer, SensitiveDataTracePolicy policy,
                                                 std::filesystem::path directory, std::string prefix)
    : m_tracer(std::move(tracer)),
      m_policy(std::move(policy)),
      m_directory(std::move(directory)),
      m_prefix(std::move(prefix)) {}

std::filesystem::path PartitionStorageManager::PathOf(std::uint64_t id) const {
  return m_directory / (m_prefix + std::to_string(id) + std::string(kExtension));
}

std::vector<std::uint64_t> PartitionStorageManager::ListPartitions() {
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail, m_directory.string());
  std::error_code error;
  const bool exists = std::filesystem::exists(m_directory, error);
  if (error) ThrowFileError(SENDARA_FUNCTION_NAME, __LINE__, error, "IsExists failed", m_directory);
  if (!exists) return {};

  std::filesystem::directory_iterator it(m_directory, error);
  if (error) ThrowFileError(SENDARA_FUNCTION_NAME, __LINE__, error, "FileFind failed", m_directory);

  std::vector<std::uint64_t> ids;
  for (const std::filesystem::directory_iterator end; it != end; it.increment(error)) {
    if (error) ThrowFileError(SENDARA_FUNCTION_NAME, __LINE__, error, "FileFind failed", m_directory);
    const std::string name = it->path().filename().string();
    if (name.size() < m_prefix.size() || name.size() < 3 || !name.starts_with(m_prefix) ||
        !name.ends_with(kExtension)) {
      continue;
    }
    const std::string_view digits =
        std::string_view(name).substr(m_prefix.size(), name.size() - m_prefix.size() - kExtension.size());
    std::uint64_t id = 0;
    const auto [parsedTo, parseError] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
    // One spelling per id ("07" would alias 7), and room left to number on.
    const bool canonical = !digits.empty() && (digits.size() == 1 || digits[0] != '0');
    if (!canonical || parseError != std::errc() || parsedTo != digits.data() + digits.size() ||
        id == std::numeric_limits<std::uint64_t>::max()) {
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "failed to parse partition id from " << name);
      continue;
    }
    SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "found partition " << id);
    ids.push_back(id);
  }
  if (error) ThrowFileError(SENDARA_FUNCTION_NAME, __LINE__, error, "FileFind failed", m_directory);
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::shared_ptr<IValueStorage> PartitionStorageManager::GetStorage(std::uint64_t id) {
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail, id);
  std::error_code error;
  std::filesystem::create_directories(m_directory, error);
  if (error) ThrowFileError(SENDARA_FUNCTION_NAME, __LINE__, error, "failed to create directory", m_directory);

  auto executor = std::make_shared<SqliteQueryExecutor>(m_tracer);
  auto scheme = std::make_shared<SqliteValueStorageScheme>(m_tracer, executor);
  auto connection = std::make_shared<SqliteConnection>(m_tracer, PathOf(id), executor, std::move(scheme),
                                                       [lost = m_lostRows](std::uint64_t count) { *lost += count; });
  return std::make_shared<ValueStorage>(m_tracer, m_policy, std::move(connection), std::move(executor),
                                        m_prefix + std::to_string(id));
}

void PartitionStorageManager::RemoveStorage(std::uint64_t id) {
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail, id);
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::filesystem::path file = PathOf(id);
    file += suffix;
    std::error_code error;
    std::filesystem::remove(file, error);
    SENDARA_TRACE(m_tracer, TraceLevel::kDetail,
                  "path: " << file.string() << ", result: " << platform::ResultFromErrorCode(error));
  }
}

}  // namespace sendara::base::storages
