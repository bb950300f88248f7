#include "driver/private_module.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "driver/user_error.h"

namespace driver {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFolderPrefix = "ostrand-module-";

fs::path TemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? fs::path(tmp) : fs::path("/tmp");
}

// Folders of copies whose process is gone: "ostrand-module-<pid>-XXXXXX".
void RemoveOrphans(const fs::path& tmp) noexcept {
  std::error_code error;
  std::vector<fs::path> orphans;
  for (fs::directory_iterator it(tmp, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(kFolderPrefix, 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + std::char_traits<char>::length(kFolderPrefix), nullptr, 10);
    if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) orphans.push_back(it->path());
  }
  for (const fs::path& orphan : orphans) fs::remove_all(orphan, error);
}

}  // namespace

PrivateModuleCopy::PrivateModuleCopy(const std::string& modulePath) {
  const fs::path tmp = TemporaryFolder();
  RemoveOrphans(tmp);
  std::string folder = (tmp / (kFolderPrefix + std::to_string(::getpid()) + "-XXXXXX")).string();
  {
    auto step = Step();
    if (::mkdtemp(folder.data()) == nullptr)
      throw UserError(ErrorKind::kRefused, modulePath,
                      "no private copy of the module can be made in " + tmp.string() + ": " +
                          std::error_code(errno, std::generic_category()).message());
    folder_ = folder;
    maker_ = ::getpid();
    enroll();
  }
  const fs::path module(modulePath);
  const fs::path copy = fs::path(folder_) / module.filename();
  std::error_code error;
  fs::copy_file(module, copy, error);
  if (error) {
    remove();
    throw UserError(ErrorKind::kRefused, modulePath,
                    "no private copy of the module can be made in " + tmp.string() + ": " + error.message());
  }
  const fs::path settings = module.parent_path() / "Ostrand.ini";
  if (fs::is_regular_file(settings, error)) fs::copy_file(settings, fs::path(folder_) / "Ostrand.ini", error);
  path_ = copy.string();
}

PrivateModuleCopy::~PrivateModuleCopy() { remove(); }

void PrivateModuleCopy::undoOnSignal() noexcept { remove(); }

void PrivateModuleCopy::remove() noexcept {
  auto step = Step();
  // A forked child's copy of this object leaves the folder to its maker.
  if (folder_.empty() || ::getpid() != maker_) return;
  std::error_code error;
  fs::remove_all(folder_, error);
  folder_.clear();
}

}  // namespace driver
