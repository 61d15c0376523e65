#pragma once

#include <array>
#include <cstddef>
#include <string>

#include <boost/asio/buffer.hpp>

namespace sendara::syslog {

// The bytes of one message: its text, then the client's suffix. The two are
// kept apart and written with one gathered write, so that a package of
// events is never copied on its way to the socket.
class SyslogPayload {
 public:
  SyslogPayload(std::string text, std::string suffix) : m_text(std::move(text)), m_suffix(std::move(suffix)) {}

  std::array<boost::asio::const_buffer, 2> Buffers() const {
    return {boost::asio::buffer(m_text), boost::asio::buffer(m_suffix)};
  }
  std::size_t Size() const { return m_text.size() + m_suffix.size(); }

 private:
  const std::string m_text;
  const std::string m_suffix;
};

}  // namespace sendara::syslog
