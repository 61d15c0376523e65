#pragma once

namespace siem_sink {

// An accepted connection, as its listener sees it.
class Connection {
 public:
  virtual ~Connection() = default;

  // Begins the connection's work on its own strand. Returns at once.
  virtual void Start() = 0;

  // Ends the connection from any thread: what it has already received is
  // still written, then it closes. Returns at once.
  virtual void Stop() = 0;
};

}  // namespace siem_sink
