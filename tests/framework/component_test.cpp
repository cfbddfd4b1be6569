// Ownership and the end of components.
#include "framework/component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> gLog;

// Logs its tear-down, reading a member of the derived class in
// BeforeDestruction to show the whole object is still alive then.
class TLogged : public TComponent {
 public:
  TLogged(TComponent* AOwner, std::string AName) : TComponent(AOwner), FLabel(std::move(AName)) {
    SetName(FLabel);
  }
  void BeforeDestruction() override {
    gLog.push_back("before " + FLabel);
    TComponent::BeforeDestruction();
    gLog.push_back("children freed " + FLabel);
  }
  void Loaded() override {
    gLog.push_back("loaded " + FLabel);
    TComponent::Loaded();
  }
  TComponent* Sibling = nullptr;  // freed by this one's tear-down when set

 protected:
  ~TLogged() override {
    if (Sibling) Sibling->Free();
    gLog.push_back("destroyed " + FLabel);
  }

 private:
  std::string FLabel;
};

class TLoadingRoot : public TLogged {
 public:
  explicit TLoadingRoot(TComponent* AOwner) : TLogged(AOwner, "root") { BeginLoading(); }
  void Finish() { EndLoadingRoot(); }
};

}  // namespace

TEST(Component, OwnerFreesChildrenLastCreatedFirstAfterItsOwnTearDown) {
  gLog.clear();
  auto* root = new TLogged(nullptr, "root");
  new TLogged(root, "a");
  auto* b = new TLogged(root, "b");
  new TLogged(b, "b1");
  new TLogged(root, "c");
  ASSERT_EQ(root->ComponentCount(), 3);
  root->Free();
  const std::vector<std::string> expected{
      "before root", "before c",          "children freed c", "destroyed c",          "before b", "before b1",
      "children freed b1", "destroyed b1", "children freed b",  "destroyed b",          "before a", "children freed a",
      "destroyed a", "children freed root", "destroyed root"};
  EXPECT_EQ(gLog, expected);
}

TEST(Component, FreedChildLeavesItsOwnerAndSiblingsMayFreeEachOther) {
  gLog.clear();
  auto* root = new TLogged(nullptr, "root");
  auto* a = new TLogged(root, "a");
  auto* b = new TLogged(root, "b");
  (new TLogged(root, "c"))->Free();
  EXPECT_EQ(root->ComponentCount(), 2);
  // b's destructor frees a, which the owner has not reached yet.
  b->Sibling = a;
  gLog.clear();
  root->Free();
  const std::vector<std::string> expected{"before root", "before b",          "children freed b", "before a",
                                          "children freed a", "destroyed a", "destroyed b",
                                          "children freed root", "destroyed root"};
  EXPECT_EQ(gLog, expected);
}

TEST(Component, ComponentsBuiltByALoadingRootAreLoadingUntilLoaded) {
  gLog.clear();
  TComponentPtr<TLoadingRoot> root(new TLoadingRoot(nullptr));
  auto* during = new TLogged(root.get(), "during");
  auto* nested = new TLogged(during, "nested");  // owned by a component, not by the root
  root->Finish();
  auto* after = new TLogged(root.get(), "after");
  EXPECT_TRUE(root->Loading());
  EXPECT_TRUE(during->Loading());
  EXPECT_FALSE(nested->Loading());
  EXPECT_FALSE(after->Loading());
  during->Loaded();
  EXPECT_FALSE(during->Loading());
}

TEST(Component, EventMayClearItselfWhileRunning) {
  int calls = 0;
  TNotifyEvent event;
  event = [&](TComponent*) {
    event = nullptr;  // destroys the stored function; the running copy lives on
    std::string keep(64, 'x');
    calls += static_cast<int>(keep.size()) / 64;
  };
  CallEvent(event, nullptr);
  CallEvent(event, nullptr);
  EXPECT_EQ(calls, 1);
}
