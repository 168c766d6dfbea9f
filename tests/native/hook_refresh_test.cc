#include "hook_refresh.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace velmora {
namespace {

std::vector<std::string> steps;

// Stands in for a hook handle's owner: records each removal.
struct RecordingRemover {
  void operator()(int* hook) const {
    steps.push_back("remove " + std::to_string(*hook));
    delete hook;
  }
};
using FakeHook = std::unique_ptr<int, RecordingRemover>;

TEST(HookRefreshTest, FreshHookInstalledBeforeTheOldIsRemovedAndKeptOnFailure) {
  steps.clear();
  FakeHook held(new int(1));
  EXPECT_TRUE(refresh_hook(held, [] {
    steps.emplace_back("install 2");
    return FakeHook(new int(2));
  }));
  EXPECT_EQ(steps, (std::vector<std::string>{"install 2", "remove 1"}));
  EXPECT_EQ(*held, 2);

  steps.clear();
  EXPECT_FALSE(refresh_hook(held, [] {
    steps.emplace_back("install fails");
    return FakeHook();
  }));
  EXPECT_EQ(steps, (std::vector<std::string>{"install fails"}));
  EXPECT_EQ(*held, 2) << "the old hook is kept";
  held.reset();
}

}  // namespace
}  // namespace velmora
