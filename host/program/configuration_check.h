#pragma once

#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/program/host_configuration.h"

namespace reference_host {

// What `--check` adds to loading a configuration: every endpoint's host
// resolved, and the plan of what would be sent where, told without a
// secret. Nothing is sent and the data folder is not touched.
class ConfigurationCheck {
 public:
  // Names the endpoint whose host does not resolve.
  class Error : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

  // Resolves every endpoint's host and the tunnel's address; raises Error
  // for the first that does not.
  explicit ConfigurationCheck(const HostConfiguration& configuration);

  // The plan, one line a fact.
  void Print(std::ostream& out) const;

 private:
  const HostConfiguration& m_configuration;
  // The addresses of each endpoint, in the endpoints' order.
  std::vector<std::vector<std::string>> m_addresses;
};

}  // namespace reference_host
