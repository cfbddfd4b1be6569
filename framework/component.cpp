#include "framework/component.h"

#include <algorithm>

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {
  if (FOwner) {
    FOwner->Insert(this);
    // Built by a form's constructor: loaded together with the form.
    FLoading = FOwner->FLoadingRoot;
  }
}

TComponent::~TComponent() {
  // Reached without Free() (a derived destructor, or delete by the owner's
  // own destructor): still leave nothing dangling.
  DestroyComponents();
  if (FOwner) FOwner->Remove(this);
}

void TComponent::Free() {
  if (FDestroying) return;
  FDestroying = true;
  BeforeDestruction();
  delete this;
}

void TComponent::Loaded() { FLoading = false; }

void TComponent::BeforeDestruction() { DestroyComponents(); }

void TComponent::DestroyComponents() {
  // A component may free others of this owner while it goes, so take one at
  // a time from the end instead of walking a copy.
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    FComponents.pop_back();
    c->FOwner = nullptr;
    c->Free();
  }
}

void TComponent::Remove(TComponent* Child) {
  auto it = std::find(FComponents.begin(), FComponents.end(), Child);
  if (it != FComponents.end()) FComponents.erase(it);
}
