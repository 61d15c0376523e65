#include "component/sendara/base/detail/common/trace_directory_content.h"

#include <system_error>

#include <boost/json/object.hpp>

#include "component/platform/system_error.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/tools_exception.h"

namespace sendara::base {
namespace {

[[noreturn]] void ThrowEnumerationFailed(const std::filesystem::path& path, const std::error_code& error) {
  tools_exception exception(platform::ResultFromErrorCode(error), "dir enumeration failed",
                            __FILE__, __LINE__);
  exception.SetProperty("path", path.string());
  ThrowNested(std::move(exception));
}

}  // namespace

boost::json::array TraceDirectoryContent::GetDirectoryContent(const std::filesystem::path& path) {
  boost::json::array content;
  std::error_code error;
  std::filesystem::directory_iterator it(path, error);
  if (error) ThrowEnumerationFailed(path, error);
  for (const std::filesystem::directory_iterator end; it != end; it.increment(error)) {
    if (error) ThrowEnumerationFailed(path, error);
    const std::filesystem::directory_entry& entry = *it;
    boost::json::object item;
    item["path"] = entry.path().string();
    std::error_code entryError;
    if (entry.is_directory(entryError)) {
      item["type"] = "folder";
    } else {
      item["type"] = "file";
      // An entry that vanished since it was listed has no size to report.
      const auto size = entry.file_size(entryError);
      if (!entryError) item["size"] = static_cast<std::uint64_t>(size);
    }
    content.emplace_back(std::move(item));
  }
  if (error) ThrowEnumerationFailed(path, error);
  return content;
}

}  // namespace sendara::base
