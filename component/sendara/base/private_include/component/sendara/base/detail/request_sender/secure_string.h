#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sendara::base {

// A response text that may hold what the server answered about events: every
// buffer it used is zeroed before it goes back to the allocator, including
// the ones left behind when it grows or is moved from.
class SecureString {
 public:
  SecureString() noexcept = default;
  explicit SecureString(std::string_view text);
  SecureString(SecureString&& other) noexcept;
  SecureString& operator=(SecureString&& other) noexcept;
  // Copies would scatter the text: there are none.
  SecureString(const SecureString&) = delete;
  SecureString& operator=(const SecureString&) = delete;
  ~SecureString();

  // Grows into a new buffer when needed and zeroes the old one.
  void Append(std::string_view text);
  // Zeroes the text and leaves the string empty.
  void Clear() noexcept;

  std::string_view View() const noexcept { return m_text; }
  std::size_t Size() const noexcept { return m_text.size(); }
  bool Empty() const noexcept { return m_text.empty(); }

 private:
  static void Wipe(std::string& text) noexcept;

  std::string m_text;
};

}  // namespace sendara::base
