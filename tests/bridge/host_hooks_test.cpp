#include "bridge/host_hooks.h"

#include <gtest/gtest.h>

#include <vector>

namespace VirelantDesktop {
namespace {

TEST(HostHooks, HooksAreCalledOnlyWhenSet) {
  HostHooks hooks;
  EXPECT_FALSE(hooks.CallRequestQuit());
  EXPECT_FALSE(hooks.CallApplyCaptionTheme(true));
  int quits = 0;
  bool resizable = true;
  hooks.Install({[&] { ++quits; }, nullptr, [&](bool value) { resizable = value; }, nullptr});
  EXPECT_TRUE(hooks.CallRequestQuit());
  EXPECT_FALSE(hooks.CallShowMainWindow());
  EXPECT_TRUE(hooks.CallApplyWindowResizable(false));
  EXPECT_FALSE(hooks.CallApplyCaptionTheme(false)) << "only with the custom title bar";
  EXPECT_EQ(quits, 1);
  EXPECT_FALSE(resizable);
}

TEST(HostHooks, AHookMayCallBackIntoTheHooks) {
  HostHooks hooks;
  hooks.Install({[&] { hooks.SetFontsLoaded(true); hooks.CallShowMainWindow(); }, [] {}, nullptr, nullptr});
  EXPECT_TRUE(hooks.CallRequestQuit());  // no deadlock: hooks run outside the lock
  EXPECT_TRUE(hooks.FontsLoaded());
}

TEST(HostHooks, VisibilityReachesTheListenerAndTheRefresherAnswersThroughIt) {
  HostHooks hooks;
  hooks.RefreshVisibility();  // nothing installed: nothing happens
  std::vector<bool> seen;
  hooks.SetVisibilityListener([&](bool visible) { seen.push_back(visible); });
  hooks.NotifyVisibility(false);
  hooks.SetVisibilityRefresher([&] { hooks.NotifyVisibility(true); });
  hooks.RefreshVisibility();
  EXPECT_EQ(seen, (std::vector<bool>{false, true}));
}

}  // namespace
}  // namespace VirelantDesktop
