#include "loaded_module.h"

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace e2e {

std::string TextFileBytes(const std::string& text) {
#ifdef _WIN32
  std::string bytes;
  for (char c : text) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  return bytes;
#else
  return text;
#endif
}

void LoadedModuleTest::SetUp() {
  root_ = std::filesystem::temp_directory_path() /
          ("ostrand-e2e-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::remove_all(root_);
  std::filesystem::create_directories(root_);
}

void LoadedModuleTest::TearDown() {
  module_ = nullptr;
  host_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string LoadedModuleTest::copyModule(const std::string& file) {
  static int copies = 0;
  moduleDir_ = root_ / ("module" + std::to_string(++copies));
  std::filesystem::create_directories(moduleDir_);
  std::filesystem::path copy = moduleDir_ / std::filesystem::path(file).filename();
  std::filesystem::copy_file(file, copy);
  return copy.string();
}

host::Host& LoadedModuleTest::loadHost(const std::string& modulePath) {
  host_.reset();
  host_ = std::make_unique<host::Host>();
  module_ = &host_->loadModule(modulePath);
  return *host_;
}

host::Host& LoadedModuleTest::startModule(const std::string& file) {
  host::Host& host = loadHost(copyModule(file));
  EXPECT_EQ(host.enter(), ostrand::kEntryReady);
  host.announceServices();
  return host;
}

std::string LoadedModuleTest::read(const std::filesystem::path& file) const {
  std::ifstream in(file, std::ios::binary);
  if (!in) return "";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void LoadedModuleTest::write(const std::filesystem::path& file, const std::string& text) const {
  std::ofstream(file, std::ios::binary) << text;
}

void LoadedModuleTest::nameWeightsFile(uint32_t effect, const std::filesystem::path& file) {
  auto* instance = static_cast<EffectInstance*>(host_->effect(effect)->data.at(ostrand::kInstanceDataKey));
  const std::string path = file.string();
  ASSERT_LT(path.size(), sizeof instance->WeightsPath);
  std::memcpy(instance->WeightsPath, path.c_str(), path.size() + 1);
}

}  // namespace e2e
