#include "host/program/followed_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace reference_host {
namespace {

constexpr std::size_t kReadSize = 64 * 1024;

bool Same(const struct stat& status, const FollowedFile::Position& position) {
  return static_cast<std::uint64_t>(status.st_dev) == position.device &&
         static_cast<std::uint64_t>(status.st_ino) == position.inode;
}

}  // namespace

FollowedFile::FollowedFile(std::filesystem::path path, const std::atomic<bool>& stopRequested, std::size_t maximumLine)
    : m_path(std::move(path)), m_stopRequested(stopRequested), m_lines(maximumLine) {}

FollowedFile::~FollowedFile() { Close(); }

bool FollowedFile::ResumeAt(const Position& position) {
  Close();
  struct stat status {};
  if (::stat(m_path.c_str(), &status) == 0 && Same(status, position)) return Open(m_path, position.offset);
  const std::string name = m_path.filename().string();
  const std::filesystem::path folder = m_path.has_parent_path() ? m_path.parent_path() : ".";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string candidate = entry.path().filename().string();
    if (candidate == name || !candidate.starts_with(name)) continue;
    if (::stat(entry.path().c_str(), &status) == 0 && Same(status, position) && Open(entry.path(), position.offset)) {
      m_leaving = true;
      return true;
    }
  }
  return false;
}

FollowedFile::Read FollowedFile::Next(std::string& line) {
  for (;;) {
    if (m_stopRequested) return Read::kStopped;
    if (m_fd >= 0 && m_lines.Next(line)) return Read::kLine;
    if (m_fd >= 0 && ReadMore()) continue;
    // At the end of what the open file holds, or no file open.
    if (m_fd < 0) {
      if (Open(m_path, 0)) continue;
    } else if (m_leaving) {
      // Renamed away and read to its end: its unfinished last line will
      // never be finished.
      if (m_lines.Rest(line)) return Read::kLine;
      Close();
      continue;
    } else if (Replaced()) {
      // Read the old file once more: what its writer added before the
      // rename is after the end seen last.
      m_leaving = true;
      continue;
    } else {
      struct stat status {};
      if (::fstat(m_fd, &status) == 0 && static_cast<std::uint64_t>(status.st_size) < m_readOffset &&
          ::lseek(m_fd, 0, SEEK_SET) == 0) {
        // Truncated: whatever it holds now was written from its start.
        m_file.offset = 0;
        m_readOffset = 0;
        m_lines.Clear();
        continue;
      }
    }
    ::poll(nullptr, 0, kPauseMilliseconds);
    return m_stopRequested ? Read::kStopped : Read::kNothingYet;
  }
}

FollowedFile::Position FollowedFile::Consumed() const {
  Position position = m_file;
  position.offset += m_lines.Taken();
  return position;
}

bool FollowedFile::Open(const std::filesystem::path& path, std::uint64_t offset) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    ::close(fd);
    return false;
  }
  // Shorter than the place to go on from: truncated since.
  if (offset > static_cast<std::uint64_t>(status.st_size)) offset = 0;
  if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) offset = 0;
  Close();
  m_fd = fd;
  m_file = Position{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino), offset, path};
  m_readOffset = offset;
  m_lines.Clear();
  m_leaving = false;
  return true;
}

void FollowedFile::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_leaving = false;
}

bool FollowedFile::ReadMore() {
  char bytes[kReadSize];
  const ssize_t got = ::read(m_fd, bytes, kReadSize);
  if (got <= 0) return false;
  m_lines.Append(std::string_view(bytes, static_cast<std::size_t>(got)));
  m_readOffset += static_cast<std::uint64_t>(got);
  return true;
}

bool FollowedFile::Replaced() const {
  struct stat status {};
  return ::stat(m_path.c_str(), &status) == 0 && !Same(status, m_file);
}

}  // namespace reference_host
