#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>

#include "host/program/followed_file.h"

namespace reference_host {

// Where the host program's follow mode is in its file, kept in a small JSON
// file ({"path", "device", "inode", "offset"}) that a restart reads. It is
// replaced whole, never written in place: a crash leaves the old one or the
// new one, not half of either.
class FollowCheckpoint {
 public:
  class Error : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

  static constexpr const char* kFileName = "follow.checkpoint";

  explicit FollowCheckpoint(std::filesystem::path file) : m_file(std::move(file)) {}

  const std::filesystem::path& File() const { return m_file; }

  // None when there is no checkpoint yet; raises Error for one that cannot
  // be read or is not a checkpoint.
  std::optional<FollowedFile::Position> Load() const;
  // Writes a new file beside it, flushes it to the disk, renames it over the
  // old one and flushes the folder, so that the rename survives a power
  // cut. Raises Error when any step fails.
  void Store(const FollowedFile::Position& position) const;

 private:
  const std::filesystem::path m_file;
};

}  // namespace reference_host
