// Resolving the host function table: order, groups, and the first missing name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "host_interface/host_function_table.h"
#include "host_interface/module_state.h"
#include "support/module_fixture.h"

namespace {

using test_support::ModuleTest;

class HostFunctionTableTest : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    std::strcpy(ostrand::moduleName, "Ostrand");
    ostrand::loadedGroups = 0;
    for (void*& f : ostrand::HostFunctionTable) f = nullptr;
    host().clearLookups();
    host().clearMessages();
  }
  std::vector<std::string> lookedUp() {
    std::vector<std::string> names;
    for (const auto& l : host().lookups()) names.push_back(l.name);
    return names;
  }
};

TEST_F(HostFunctionTableTest, LooksUpEveryNameOnceInGroupOrderWithItsGroupWord) {
  ASSERT_EQ(ostrand::resolveHostFunctions(ostrand::kAllHostGroups), 1u);
  auto lookups = host().lookups();
  ASSERT_EQ(lookups.size(), 728u);
  for (size_t i = 0; i < lookups.size(); ++i) {
    EXPECT_EQ(lookups[i].name, ostrand::kHostFunctionNames[i].name);
    EXPECT_EQ(lookups[i].group, ostrand::kHostFunctionNames[i].group);
  }
  // The message group comes first, the data group before the format group, the
  // rest by rising bit.
  EXPECT_EQ(lookups.front().name, "fxMessageSend");
  EXPECT_EQ(lookups[2].name, "fxObjectSetParent");
  std::vector<uint32_t> groups;
  for (const auto& l : lookups)
    if (groups.empty() || groups.back() != l.group) groups.push_back(l.group);
  std::vector<uint32_t> expected = {0x200, 0x1, 0x2, 0x4, 0x8, 0x10, 0x20, 0x80, 0x100, 0x800,
                                    0x400, 0x4000, 0x8000, 0x10000, 0x20000, 0x40000, 0x80000, 0x100000, 0x400000};
  EXPECT_EQ(groups, expected);
  for (void* f : ostrand::HostFunctionTable) EXPECT_NE(f, nullptr);
}

TEST_F(HostFunctionTableTest, MissingProgressFunctionIsReportedWithItsFixedText) {
  host().missName("fxMessageProgress");
  EXPECT_EQ(ostrand::resolveHostFunctions(ostrand::kAllHostGroups), 0u);
  auto messages = host().messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].effectId, 0u);
  EXPECT_EQ(messages[0].heading, "Ostrand");
  EXPECT_EQ(messages[0].kind, ostrand::kMessageKindMissingFunction);
  EXPECT_EQ(messages[0].text, "fxMessageProgress could not be found!");
  EXPECT_FALSE(messages[0].hasText2);
  EXPECT_EQ(lookedUp(), (std::vector<std::string>{"fxMessageSend", "fxMessageProgress"}));
}

TEST_F(HostFunctionTableTest, MissingMessageFunctionFailsSilently) {
  host().missName("fxMessageSend");
  EXPECT_EQ(ostrand::resolveHostFunctions(ostrand::kAllHostGroups), 0u);
  EXPECT_TRUE(host().messages().empty());
  EXPECT_EQ(lookedUp(), std::vector<std::string>{"fxMessageSend"});
}

TEST_F(HostFunctionTableTest, StopsAtTheFirstMissingNameOfALaterGroup) {
  host().missName("fxObjectSetParent");
  EXPECT_EQ(ostrand::resolveHostFunctions(ostrand::kAllHostGroups), 0u);
  EXPECT_EQ(lookedUp(), (std::vector<std::string>{"fxMessageSend", "fxMessageProgress", "fxObjectSetParent"}));
  ASSERT_EQ(host().messages().size(), 1u);
  EXPECT_EQ(host().messages()[0].text, "fxObjectSetParent could not be found!");
}

TEST_F(HostFunctionTableTest, DataGroupIsResolvedBeforeTheFormatGroup) {
  host().missName("fxArgLoadWeight");
  EXPECT_EQ(ostrand::resolveHostFunctions(ostrand::kAllHostGroups), 0u);
  auto names = lookedUp();
  EXPECT_EQ(names.back(), "fxArgLoadWeight");
  for (const char* data : {"fxDataCreate", "fxDataSet", "fxDataGet", "fxDataFree", "fxDataFreeKey"})
    EXPECT_NE(std::find(names.begin(), names.end(), data), names.end()) << data;
  // Only the first missing function is reported, and the failed group stays begun.
  EXPECT_EQ(host().messages().size(), 1u);
  EXPECT_NE(ostrand::loadedGroups & ostrand::kGroupFormats, 0u);
}

TEST_F(HostFunctionTableTest, RequestedGroupsSelectWhatIsResolvedAndNothingIsAskedTwice) {
  EXPECT_EQ(ostrand::resolveHostFunctions(ostrand::kGroupMessages), 1u);
  EXPECT_EQ(lookedUp(), (std::vector<std::string>{"fxMessageSend", "fxMessageProgress"}));
  host().clearLookups();
  // Bits of no group are ignored; already begun groups are not looked up again.
  EXPECT_EQ(ostrand::resolveHostFunctions(ostrand::kGroupMessages | 0x2000), 1u);
  EXPECT_TRUE(host().lookups().empty());
  EXPECT_EQ(ostrand::resolveHostFunctions(ostrand::kAllHostGroups), 1u);
  EXPECT_EQ(host().lookups().size(), 726u);
  host().clearLookups();
  EXPECT_EQ(ostrand::resolveHostFunctions(ostrand::kAllHostGroups), 1u);
  EXPECT_TRUE(host().lookups().empty());
}

}  // namespace
