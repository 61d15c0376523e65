#include "component/sendara/base/detail/request_sender/secure_string.h"

#include <algorithm>
#include <utility>

#include "component/platform/secure_memory.h"

namespace sendara::base {

SecureString::SecureString(std::string_view text) : m_text(text) {}

SecureString::SecureString(SecureString&& other) noexcept {
  // A short text lives inside the object: a move copies it and leaves the
  // bytes in `other`, so they are zeroed there.
  m_text.swap(other.m_text);
  Wipe(other.m_text);
}

SecureString& SecureString::operator=(SecureString&& other) noexcept {
  if (this != &other) {
    Wipe(m_text);
    m_text.swap(other.m_text);
    Wipe(other.m_text);
  }
  return *this;
}

SecureString::~SecureString() { Wipe(m_text); }

void SecureString::Append(std::string_view text) {
  if (m_text.size() + text.size() <= m_text.capacity()) {
    m_text.append(text);
    return;
  }
  // Growing in place would free the old buffer unzeroed.
  std::string grown;
  grown.reserve(std::max(m_text.capacity() * 2, m_text.size() + text.size()));
  grown.append(m_text);
  grown.append(text);
  Wipe(m_text);
  m_text.swap(grown);
  Wipe(grown);
}

void SecureString::Clear() noexcept { Wipe(m_text); }

void SecureString::Wipe(std::string& text) noexcept {
  // Within the capacity no allocation happens: resize cannot throw here.
  text.resize(text.capacity());
  platform::WipeMemory(text.data(), text.size());
  text.clear();
}

}  // namespace sendara::base
