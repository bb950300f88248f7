// Module loading errors, registration, and the messages around effect items.
#include <gtest/gtest.h>

#include <stdexcept>

#include "host_test_support.h"

namespace {

using host::Host;

struct Sent {
  void* handle;
  uint32_t effect;
  int32_t message;
  uint64_t argument;
};
std::vector<Sent>* sentMessages = nullptr;

int32_t Record(void* handle, uint32_t effect, int32_t message, uint64_t argument) {
  if (sentMessages) sentMessages->push_back({handle, effect, message, argument});
  return 1;
}

TEST(LoadedModule, MissingFileOrEntryPointIsAClearError) {
  try {
    host::LoadedModule module("/nonexistent/libOstrand64.so");
    FAIL() << "loaded a missing file";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/libOstrand64.so"), std::string::npos) << e.what();
  }
  try {
    host::LoadedModule module("libm.so.6");  // a real library without the entry points
    FAIL() << "accepted a library that is no module";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(ostrand::kApiExportName), std::string::npos) << e.what();
  }
  Host host;
  EXPECT_THROW(host.enter(), std::logic_error);
  EXPECT_THROW(host.loadModule("/nonexistent/module.so"), std::runtime_error);
}

TEST(Registration, RecordsCallsAndKeepsTheCallback) {
  Host host;
  HOST_FN(fxModuleDescription)("Ostrand", 0);
  HOST_FN(fxModuleAccess)(ostrand::kMessageInstanceData, ostrand::kAccessInstanceData, 0);
  HOST_FN(fxModuleRegister)(ostrand::kRegisterKind, "Ostrand", &Record, 1);
  EXPECT_EQ(host.registrations(), (std::vector<std::string>{"fxModuleDescription(Ostrand, 0)",
                                                            host_test::AccessText(ostrand::kMessageInstanceData,
                                                                                  ostrand::kAccessInstanceData),
                                                            "fxModuleRegister(1, Ostrand, callback, 1)"}));
  EXPECT_EQ(host.moduleCallback(), &Record);
}

TEST(Effects, MessagesForCreateEvaluateDestroyAndClose) {
  std::vector<Sent> sent;
  sentMessages = &sent;
  uint32_t first = 0, second = 0;
  void* firstHandle = nullptr;
  {
    Host host;
    host.setModuleCallback(&Record);
    first = host.createEffect({});
    second = host.createEffect({});
    firstHandle = host.handleOf(first);
    EXPECT_NE(firstHandle, nullptr);
    EXPECT_NE(firstHandle, host.handleOf(second));
    EXPECT_EQ(host.handleOf(first), firstHandle);
    host.evaluate(first);
    host.destroyEffect(first);
    EXPECT_EQ(host.effect(first), nullptr);
    EXPECT_THROW(host.sendMessage(first, ostrand::kMessageEvaluate, 0), std::invalid_argument);
  }  // closing the host destroys the remaining effect
  sentMessages = nullptr;
  ASSERT_EQ(sent.size(), 6u);
  EXPECT_EQ(sent[0].effect, first);
  EXPECT_EQ(sent[0].argument, ostrand::kInstanceCreate);
  EXPECT_EQ(sent[1].effect, second);
  EXPECT_EQ(sent[2].message, ostrand::kMessageInstanceData);
  EXPECT_EQ(sent[2].argument, ostrand::kInstancePrepare);
  EXPECT_EQ(sent[3].message, ostrand::kMessageEvaluate);
  EXPECT_EQ(sent[3].argument, ostrand::kEvaluateDisplace);
  EXPECT_EQ(sent[3].handle, firstHandle);
  EXPECT_EQ(sent[4].argument, ostrand::kInstanceDestroy);
  EXPECT_EQ(sent[4].effect, first);
  EXPECT_EQ(sent[5].effect, second);
  EXPECT_EQ(sent[5].argument, ostrand::kInstanceDestroy);
}

}  // namespace
