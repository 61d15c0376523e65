#include "host/program/followed_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>
#include <system_error>

namespace reference_host {
namespace {

constexpr std::size_t kReadSize = 64 * 1024;
// How much of what was read last is kept to know a copy of the file by.
constexpr std::size_t kTailSize = 4096;

bool Same(const struct stat& status, const FollowedFile::Position& position) {
  return static_cast<std::uint64_t>(status.st_dev) == position.device &&
         static_cast<std::uint64_t>(status.st_ino) == position.inode;
}

bool Later(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// Rotated files compressed by the rotation are no text to read.
bool Compressed(const std::string& name) {
  for (const char* suffix : {".gz", ".xz", ".bz2", ".zst", ".lz4", ".zip"}) {
    if (name.ends_with(suffix)) return true;
  }
  return false;
}

// The files beside `path` whose names start with its name.
std::vector<std::filesystem::path> Siblings(const std::filesystem::path& path) {
  std::vector<std::filesystem::path> siblings;
  const std::string name = path.filename().string();
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string candidate = entry.path().filename().string();
    if (candidate != name && candidate.starts_with(name) && !Compressed(candidate)) siblings.push_back(entry.path());
  }
  return siblings;
}

}  // namespace

FollowedFile::FollowedFile(std::filesystem::path path, const std::atomic<bool>& stopRequested, std::size_t maximumLine)
    : m_path(std::move(path)), m_stopRequested(stopRequested), m_lines(maximumLine) {}

FollowedFile::~FollowedFile() { Close(); }

bool FollowedFile::ResumeAt(const Position& position) {
  Close();
  struct stat status {};
  if (::stat(m_path.c_str(), &status) == 0 && Same(status, position)) return Open(m_path, position.offset);
  for (const std::filesystem::path& sibling : Siblings(m_path)) {
    if (::stat(sibling.c_str(), &status) == 0 && Same(status, position) && Open(sibling, position.offset)) {
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
      // A copy of a truncated file goes on with the file; a file renamed
      // away, with the next one renamed after it, if any.
      std::optional<std::filesystem::path> next = std::exchange(m_afterCopy, std::nullopt);
      if (!next) next = NextRotated();
      Close();
      if (next && Open(*next, 0)) m_leaving = *next != m_path;
      continue;
    } else if (Replaced()) {
      // Read the old file once more: what its writer added before the
      // rename is after the end seen last.
      m_leaving = true;
      continue;
    } else {
      struct stat status {};
      if (::fstat(m_fd, &status) == 0 && static_cast<std::uint64_t>(status.st_size) < m_readOffset) {
        // Truncated: what it held past the last read is in a copy beside
        // it, or lost; whatever it holds now was written from its start.
        if (OpenTruncatedCopy()) continue;
        ++m_unrecoveredTruncations;
        if (::lseek(m_fd, 0, SEEK_SET) == 0) {
          m_file.offset = 0;
          m_readOffset = 0;
          m_tail.clear();
          m_lines.Clear();
        }
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
  m_tail.clear();
  m_lines.Clear();
  m_leaving = false;
  return true;
}

std::optional<std::filesystem::path> FollowedFile::NextRotated() const {
  struct stat left {};
  if (::fstat(m_fd, &left) != 0) return std::nullopt;
  std::optional<std::filesystem::path> next;
  struct timespec nextTime {};
  for (const std::filesystem::path& sibling : Siblings(m_path)) {
    struct stat status {};
    if (::stat(sibling.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || Same(status, m_file)) continue;
    if (!Later(status.st_mtim, left.st_mtim)) continue;
    if (!next || Later(nextTime, status.st_mtim)) {
      next = sibling;
      nextTime = status.st_mtim;
    }
  }
  return next;
}

bool FollowedFile::OpenTruncatedCopy() {
  if (m_tail.empty()) return false;
  const std::uint64_t tailStart = m_readOffset - m_tail.size();
  for (const std::filesystem::path& sibling : Siblings(m_path)) {
    const int fd = ::open(sibling.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    // A copy holds what was read where it was read.
    std::string bytes(m_tail.size(), '\0');
    struct stat status {};
    if (::pread(fd, bytes.data(), bytes.size(), static_cast<off_t>(tailStart)) != static_cast<ssize_t>(bytes.size()) ||
        bytes != m_tail || ::fstat(fd, &status) != 0 || ::lseek(fd, static_cast<off_t>(m_readOffset), SEEK_SET) < 0) {
      ::close(fd);
      continue;
    }
    // Read on in the copy from the place reached, with the lines under way;
    // the truncated file follows from its start.
    ::close(m_fd);
    m_fd = fd;
    m_file = Position{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
                      m_file.offset, sibling};
    m_leaving = true;
    m_afterCopy = m_path;
    return true;
  }
  return false;
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
  const std::string_view read(bytes, static_cast<std::size_t>(got));
  m_lines.Append(read);
  m_readOffset += read.size();
  if (read.size() >= kTailSize) {
    m_tail.assign(read.substr(read.size() - kTailSize));
  } else {
    m_tail.append(read);
    if (m_tail.size() > kTailSize) m_tail.erase(0, m_tail.size() - kTailSize);
  }
  return true;
}

bool FollowedFile::Replaced() const {
  struct stat status {};
  return ::stat(m_path.c_str(), &status) == 0 && !Same(status, m_file);
}

}  // namespace reference_host
