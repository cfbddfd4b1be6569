// The component base: an owner, a name, and the components it owns.
//
// An owner destroys what it owns, last created first. Components are heap
// objects ended with Free(), which runs BeforeDestruction() while the whole
// object (derived parts included) is still alive, then destroys the owned
// components, then deletes. Deleting directly skips BeforeDestruction, so the
// destructor is protected.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class TComponent;

// An event whose only argument is the component that raised it.
using TNotifyEvent = std::function<void(TComponent* Sender)>;

class TComponent {
 public:
  explicit TComponent(TComponent* AOwner);
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  // Ends the component: BeforeDestruction(), then delete.
  void Free();

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  void SetName(const std::string& Value) { FName = Value; }

  // Owned components in creation order.
  const std::vector<TComponent*>& Components() const { return FComponents; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }

  // True from creation as part of a form's construction until Loaded().
  bool Loading() const { return FLoading; }
  // True once Free() has begun.
  bool Destroying() const { return FDestroying; }

  // Runs once the owning form has constructed all its components and set
  // their properties, before the form's OnCreate. Overrides call the base.
  virtual void Loaded();
  // Runs at the start of Free() with the whole object alive. Overrides do
  // their own tear-down first and then call the base, which frees the owned
  // components.
  virtual void BeforeDestruction();

 protected:
  virtual ~TComponent();
  // Frees every owned component, last created first.
  void DestroyComponents();
  // A form marks itself while its constructor builds its components, so
  // that the components created meanwhile take part in its Loaded step.
  void BeginLoading() { FLoading = FLoadingRoot = true; }
  void EndLoadingRoot() { FLoadingRoot = false; }

 private:
  void Insert(TComponent* Child) { FComponents.push_back(Child); }
  void Remove(TComponent* Child);

  TComponent* FOwner = nullptr;
  std::string FName;
  std::vector<TComponent*> FComponents;
  bool FLoading = false;
  bool FLoadingRoot = false;
  bool FDestroying = false;
};

// Calls an event handler through a copy, so a handler that replaces or
// clears its own event (a run-once idle handler) does not destroy the
// function that is running.
template <typename F, typename... A>
void CallEvent(const F& Event, A&&... Args) {
  if (!Event) return;
  F handler = Event;
  handler(std::forward<A>(Args)...);
}

// A property setter's first step: stores Value in Field and says whether
// that changed it, so the setter reacts only to a change.
template <typename T>
bool ChangeField(T& Field, const T& Value) {
  if (Field == Value) return false;
  Field = Value;
  return true;
}

// A std::unique_ptr for components that nothing else owns.
struct TFreeComponent {
  void operator()(TComponent* C) const {
    if (C) C->Free();
  }
};
template <typename T>
using TComponentPtr = std::unique_ptr<T, TFreeComponent>;
