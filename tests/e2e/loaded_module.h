// End-to-end fixture: a copy of the built module in a folder of its own (its
// settings and log files land beside it), loaded by a fresh host stand-in.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "host/host.h"

namespace e2e {

// The separator of the module's paths.
inline constexpr char kSeparator = static_cast<char>(std::filesystem::path::preferred_separator);

// The bytes a file written in the platform's text mode holds for text: on
// Windows each line ends with a carriage return and a line feed.
std::string TextFileBytes(const std::string& text);

class LoadedModuleTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A new folder holding a fresh copy of a module file (the module users
  // get, unless another is named); returns the copy's path.
  std::string copyModule(const std::string& file = OSTRAND_MODULE_PATH);
  // Replaces the host by a new one that has loaded the module at path.
  host::Host& loadHost(const std::string& modulePath);
  // Loads a fresh copy, enters it and announces the geometry services.
  host::Host& startModule(const std::string& file = OSTRAND_MODULE_PATH);

  std::string read(const std::filesystem::path& file) const;  // "" when missing
  void write(const std::filesystem::path& file, const std::string& text) const;
  // Names the effect's weights file as a chosen file would, without a dialog.
  void nameWeightsFile(uint32_t effect, const std::filesystem::path& file);

  std::filesystem::path root_;  // removed at tear-down
  std::filesystem::path moduleDir_;  // folder of the module copy loaded last
  std::unique_ptr<host::Host> host_;
  host::LoadedModule* module_ = nullptr;  // loaded by host_
};

}  // namespace e2e
