#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "host/program/line_splitter.h"

namespace reference_host {

// The lines of a file that grows, read as `tail -F` reads it: at its end it
// waits for more; when the file is renamed away and another takes its name,
// it finishes the old one, then any file renamed away after it (a sibling
// whose name starts with the file's, written to later: several rotations
// may pass while the reader is away), oldest first, and goes on with the
// new one from its start. When the file shrinks below what was read (a copy
// taken and the file truncated), the rest of what it held is read from the
// copy beside it, found by the bytes just read; without such a copy the
// loss is counted, and reading starts again from 0. A file that is not
// there yet is waited for. A last line without its line feed waits for it,
// unless its file was renamed away, which ends that line.
class FollowedFile {
 public:
  // A place in a file, named by what stays when the file is renamed.
  struct Position {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    // Just after a line.
    std::uint64_t offset = 0;
    // Where the file was when it was opened; for people, not for matching.
    std::filesystem::path path;

    bool operator==(const Position&) const = default;
  };

  enum class Read { kLine, kNothingYet, kStopped };

  // How long a file at its end is left before it is looked at again.
  static constexpr int kPauseMilliseconds = 100;

  FollowedFile(std::filesystem::path path, const std::atomic<bool>& stopRequested, std::size_t maximumLine = 64u << 20);
  ~FollowedFile();
  FollowedFile(const FollowedFile&) = delete;
  FollowedFile& operator=(const FollowedFile&) = delete;

  // Goes on from `position` instead of the start of the file: in the file
  // at the path when it is that file, else in a file of its folder whose
  // name starts with its name (where rotation puts it), which is finished
  // first. False when no such file is found: then the file at the path is
  // read from its start.
  bool ResumeAt(const Position& position);

  // kLine with the next line; kNothingYet after a pause in which no whole
  // line came (a reader may do its bookkeeping then); kStopped once a stop
  // is requested.
  Read Next(std::string& line);

  // Just after the last line Next gave, in the file it came from; once that
  // file is left, the start of the next one.
  Position Consumed() const;

  // Truncations after which what the file held past the last read could not
  // be found in a copy: its lines are lost.
  std::uint64_t UnrecoveredTruncations() const noexcept { return m_unrecoveredTruncations; }

 private:
  bool Open(const std::filesystem::path& path, std::uint64_t offset);
  void Close();
  bool ReadMore();
  // Whether the path now names a file other than the open one.
  bool Replaced() const;
  // The sibling renamed away first after the open file was last written, if
  // any: the file to read after it.
  std::optional<std::filesystem::path> NextRotated() const;
  // After a truncation: opens the copy beside the file that holds what was
  // read, at the place reached, to be read to its end first.
  bool OpenTruncatedCopy();

  const std::filesystem::path m_path;
  const std::atomic<bool>& m_stopRequested;
  LineSplitter m_lines;
  int m_fd = -1;
  // The open file; `offset` is where its lines were taken up from.
  Position m_file;
  std::uint64_t m_readOffset = 0;
  // The open file has another at its path: once read to its end, it is left.
  bool m_leaving = false;
  // The last bytes read from the open file, ending at m_readOffset: how a
  // copy of it is known.
  std::string m_tail;
  std::uint64_t m_unrecoveredTruncations = 0;
  // The truncated file, read on from 0 once its copy has been read.
  std::optional<std::filesystem::path> m_afterCopy;
};

}  // namespace reference_host
