#include "host/program/follow_checkpoint.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <boost/json.hpp>

namespace reference_host {
namespace {

std::string Why(const std::string& what, const std::filesystem::path& file) {
  return what + " " + file.string() + ": " + std::strerror(errno);
}

std::uint64_t Unsigned(const boost::json::object& object, const char* key) {
  const boost::json::value* value = object.if_contains(key);
  if (!value || !(value->is_uint64() || (value->is_int64() && value->get_int64() >= 0))) {
    throw FollowCheckpoint::Error(std::string("\"") + key + "\" is missing or not a number");
  }
  return value->to_number<std::uint64_t>();
}

}  // namespace

std::optional<FollowedFile::Position> FollowCheckpoint::Load() const {
  std::ifstream in(m_file, std::ios::binary);
  if (!in) {
    if (!std::filesystem::exists(m_file)) return std::nullopt;
    throw Error("can't read checkpoint " + m_file.string());
  }
  std::stringstream text;
  text << in.rdbuf();
  try {
    boost::system::error_code parseError;
    const boost::json::value value = boost::json::parse(text.str(), parseError);
    if (parseError || !value.is_object()) throw Error("not a JSON object");
    const boost::json::object& object = value.as_object();
    FollowedFile::Position position;
    position.device = Unsigned(object, "device");
    position.inode = Unsigned(object, "inode");
    position.offset = Unsigned(object, "offset");
    if (const boost::json::value* path = object.if_contains("path"); path && path->is_string()) {
      position.path = std::string(path->get_string());
    }
    return position;
  } catch (const Error& error) {
    throw Error("checkpoint " + m_file.string() + ": " + error.what());
  }
}

void FollowCheckpoint::Store(const FollowedFile::Position& position) const {
  const boost::json::object document{{"path", position.path.string()},
                                     {"device", position.device},
                                     {"inode", position.inode},
                                     {"offset", position.offset}};
  const std::string text = boost::json::serialize(document) + "\n";
  const std::filesystem::path temporary = m_file.string() + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw Error(Why("can't write", temporary));
  bool written = true;
  for (std::size_t done = 0; written && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += static_cast<std::size_t>(n);
  }
  if (!written || ::fsync(fd) != 0) {
    const Error error(Why("can't write", temporary));
    ::close(fd);
    throw error;
  }
  ::close(fd);
  if (::rename(temporary.c_str(), m_file.c_str()) != 0) throw Error(Why("can't replace", m_file));
  const std::filesystem::path folder = m_file.has_parent_path() ? m_file.parent_path() : ".";
  const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) throw Error(Why("can't open folder", folder));
  const int synced = ::fsync(folderFd);
  ::close(folderFd);
  if (synced != 0) throw Error(Why("can't flush folder", folder));
}

}  // namespace reference_host
