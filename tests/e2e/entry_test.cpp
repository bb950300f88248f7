// Loading the module: entry checks, registration, the log and settings files,
// the geometry services and exit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "loaded_module.h"

namespace {

using e2e::LoadedModuleTest;
using e2e::TextFileBytes;

// The text the host stand-in records for fxModuleAccess(message, word, 0).
inline std::string AccessText(int32_t message, uint32_t word) {
  char text[64];
  std::snprintf(text, sizeof text, "fxModuleAccess(%d, 0x%x, 0)", message, word);
  return text;
}

class EntryTest : public LoadedModuleTest {
 protected:
  // The log a successful entry writes for this settings path and thread count,
  // as it lies on disk.
  std::string expectedLog(unsigned threads) const {
    return TextFileBytes("start of log\nPlugin registered.\n" + (moduleDir_ / "Ostrand.ini").string() +
                         "\nIni loaded.\nSetting threads to: " + std::to_string(threads) + "\nFX_PLUGIN_OK\n");
  }
  // Loads a fresh copy with this settings file (none when null) and enters it.
  std::string logWithSettings(const char* settings) {
    std::string module = copyModule();
    if (settings) write(moduleDir_ / "Ostrand.ini", settings);
    host::Host& host = loadHost(module);
    EXPECT_EQ(host.enter(), ostrand::kEntryReady);
    return read(moduleDir_ / "ostrand.log");
  }
};

TEST_F(EntryTest, ApiVersionIsAvailableBeforeAndAfterEntry) {
  host::Host& host = loadHost(copyModule());
  EXPECT_EQ(module_->api(), ostrand::kApiVersion);
  EXPECT_EQ(host.enter(), ostrand::kEntryReady);
  EXPECT_EQ(module_->api(), ostrand::kApiVersion);
}

TEST_F(EntryTest, RefusesWrongHostWordsBeforeTouchingAnything) {
  host::Host& host = loadHost(copyModule());
  const host::LoadedModule& module = *module_;
  struct Case {
    uint32_t word, flags;
    int32_t result;
  } cases[] = {{0x100000, 1, ostrand::kEntryHostFlagsRefused},
               {0x100000, 3, ostrand::kEntryHostFlagsRefused},
               {0x0, 0x13, ostrand::kEntryHostFlagsRefused},
               {0x0FFFFF, 2, ostrand::kEntryHostWordRefused},
               {0x0, 0x12, ostrand::kEntryHostWordRefused}};
  for (const Case& c : cases) {
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(module.entry(buffer, host::Host::lookupFunction(), c.word, c.flags), c.result) << c.word << " " << c.flags;
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_TRUE(host.lookups().empty());
    EXPECT_FALSE(std::filesystem::exists(moduleDir_ / "ostrand.log"));
  }
  for (uint32_t word : {0x100000u, 0x800000u, 0xF00000u}) {
    host::Host& again = loadHost(copyModule());
    EXPECT_EQ(again.enter(word, 0x12), ostrand::kEntryReady) << word;
  }
}

TEST_F(EntryTest, MissingHostFunctionRefusesTheLoadAndKeepsThePreviousLog) {
  std::string module = copyModule();
  write(moduleDir_ / "ostrand.log", "previous log\n");
  host::Host& host = loadHost(module);
  host.missName("fxMeshPoint");
  char buffer[256] = "";
  EXPECT_EQ(module_->entry(buffer, host::Host::lookupFunction(), 0x100000, ostrand::kHostFlagsRequired),
            ostrand::kEntryHostFunctionMissing);
  EXPECT_STREQ(buffer, "Ostrand");
  ASSERT_EQ(host.messages().size(), 1u);
  EXPECT_EQ(host.messages()[0].heading, "Ostrand");
  EXPECT_EQ(host.messages()[0].kind, ostrand::kMessageKindMissingFunction);
  EXPECT_EQ(host.messages()[0].text, "fxMeshPoint could not be found!");
  EXPECT_EQ(read(moduleDir_ / "ostrand.log"), "previous log\n");
  EXPECT_EQ(host.moduleCallback(), nullptr);
}

TEST_F(EntryTest, RegistersTheModuleAndWritesTheLog) {
  std::string log = logWithSettings(nullptr);
  EXPECT_EQ(log, expectedLog(4));
  // The calls as the host recorded them: every message the module handles,
  // with its access word, in this order, before the callback is registered.
  EXPECT_EQ(host_->registrations(),
            (std::vector<std::string>{"fxModuleDescription(Ostrand, 0)",
                                      AccessText(ostrand::kMessageInstanceData, ostrand::kAccessInstanceData),
                                      AccessText(ostrand::kMessageControlPanel, ostrand::kAccessControlPanel),
                                      AccessText(ostrand::kMessageEvaluate, ostrand::kAccessEvaluate),
                                      AccessText(ostrand::kMessageServices, ostrand::kAccessServices),
                                      "fxModuleRegister(1, Ostrand, callback, 1)"}));
  EXPECT_NE(host_->moduleCallback(), nullptr);
  EXPECT_EQ(host_->lookups().size(), 728u);
  EXPECT_EQ(host_->exitModule(), 0);
  EXPECT_EQ(read(moduleDir_ / "ostrand.log"), expectedLog(4) + TextFileBytes("end of log\n"));
}

TEST_F(EntryTest, MissingSettingsFileIsCreatedWithItsDefaults) {
  std::string log = logWithSettings(nullptr);
  EXPECT_EQ(log, expectedLog(4));
  EXPECT_EQ(read(moduleDir_ / "Ostrand.ini"), TextFileBytes("num_threads: 4\ndef_device: 1\n"));
  // A later load of the same settings reads the count back.
  std::filesystem::path created = moduleDir_ / "Ostrand.ini";
  std::string second = copyModule();
  std::filesystem::copy_file(created, moduleDir_ / "Ostrand.ini");
  loadHost(second);
  EXPECT_EQ(host_->enter(), ostrand::kEntryReady);
  EXPECT_EQ(read(moduleDir_ / "ostrand.log"), expectedLog(4));
}

TEST_F(EntryTest, SettingsLinesAreParsedFromTheFourteenthCharacter) {
  struct Case {
    const char* settings;
    unsigned threads;
  } cases[] = {
      {"num_threads: 8\n", 8},
      {"num_threads:  12\n", 12},
      {"num_threads:8\n", 0},
      {"num_threads:16\n", 6},
      {"num_threads: 0\n", 0},
      {"num_threads: -2\n", 0},
      {"num_threads: x\n", 0},
      {" num_threads: 8\n", 0},
      {"NUM_THREADS: 8\n", 0},
      {"num_threads: 2\nnum_threads: 6\n", 6},
      {"num_threads: 500\n", 500},
      {"def_device: 1\n", 0},
      {"num_threads:", 0},
      {"num_threads: 3", 3},
      {"num_threads: 99999999999999999999\n", 2147483647},
  };
  for (const Case& c : cases) {
    std::string log = logWithSettings(c.settings);
    EXPECT_EQ(log, expectedLog(c.threads)) << c.settings;
    EXPECT_EQ(read(moduleDir_ / "Ostrand.ini"), c.settings);  // never rewritten by reading
  }
}

TEST_F(EntryTest, LongSettingsLinesArriveInPieces) {
  // The second piece of an overlong line is examined as a line of its own.
  std::string line(4094, 'a');
  line += "num_threads: 7\n";
  std::string log = logWithSettings(line.c_str());
  EXPECT_EQ(log, expectedLog(7));
}

TEST_F(EntryTest, ServicesAreLookedUpOnlyOnTheirMessage) {
  host::Host& host = loadHost(copyModule());
  ASSERT_EQ(host.enter(), ostrand::kEntryReady);
  host.clearLookups();
  uint32_t effect = host.createEffect({});
  // The services message with other arguments, and other messages with its argument.
  for (auto [message, argument] :
       {std::pair{ostrand::kMessageServices, 1}, {ostrand::kMessageServices, 3}, {12, 2}, {30, 2}}) {
    EXPECT_EQ(host.sendMessage(effect, message, argument), 0);
    EXPECT_TRUE(host.lookups().empty()) << message << " " << argument;
  }
  host.missName("useful_Normalize");
  host.announceServices();
  auto lookups = host.lookups();
  ASSERT_EQ(lookups.size(), 29u);
  EXPECT_EQ(lookups[0].name, "useful_Normalize");
  EXPECT_EQ(lookups[28].name, "useful_TargetListEffectUpdate");
  for (const auto& l : lookups) EXPECT_EQ(l.group, ostrand::kUsefulGroup);
}

TEST_F(EntryTest, ThreadCountTheRuntimeCannotStartStillLoads) {
  std::string log = logWithSettings("num_threads: 100000\n");
  EXPECT_EQ(log, expectedLog(100000));
}

}  // namespace
