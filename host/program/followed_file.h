#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "host/program/line_splitter.h"

namespace reference_host {

// The lines of a file that grows, read as `tail -F` reads it: at its end it
// waits for more; when the file is renamed away and another takes its name,
// it finishes the old one and goes on with the new one from its start; when
// the file shrinks below what was read, it starts again from 0; a file that
// is not there yet is waited for. A last line without its line feed waits
// for it, unless its file was renamed away, which ends that line.
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

 private:
  bool Open(const std::filesystem::path& path, std::uint64_t offset);
  void Close();
  bool ReadMore();
  // Whether the path now names a file other than the open one.
  bool Replaced() const;

  const std::filesystem::path m_path;
  const std::atomic<bool>& m_stopRequested;
  LineSplitter m_lines;
  int m_fd = -1;
  // The open file; `offset` is where its lines were taken up from.
  Position m_file;
  std::uint64_t m_readOffset = 0;
  // The open file has another at its path: once read to its end, it is left.
  bool m_leaving = false;
};

}  // namespace reference_host
