// Setting and removing environment variables the same way on every platform,
// for tests that steer the loaded module through its environment.
#pragma once

#include <cstdlib>

namespace test_support {

// value null: removes the variable.
inline void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value != nullptr ? value : "");
#else
  if (value != nullptr)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

}  // namespace test_support
