#pragma once

#include <cstdlib>
#include <string>
#include <utility>

// Environment variables of the test process, on either system.
inline void SetEnvironmentVariableForTest(const std::string& name, const std::string& value) {
#if defined(_WIN32)
  // An empty value would remove the variable: Windows has no set-but-empty
  // one through the C runtime.
  ::_putenv_s(name.c_str(), value.c_str());
#else
  ::setenv(name.c_str(), value.c_str(), 1);
#endif
}

inline void UnsetEnvironmentVariableForTest(const std::string& name) {
#if defined(_WIN32)
  ::_putenv_s(name.c_str(), "");
#else
  ::unsetenv(name.c_str());
#endif
}

// Sets an environment variable for the life of the object.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(std::string name, const std::string& value) : m_name(std::move(name)) {
    SetEnvironmentVariableForTest(m_name, value);
  }
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;
  ~ScopedEnvironmentVariable() { UnsetEnvironmentVariableForTest(m_name); }

 private:
  std::string m_name;
};
