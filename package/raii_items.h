// An item list that owns its blocks: FreeExeItems runs when it goes.
#pragma once
#include "package/exe_adder.h"

struct TOwnedItems : TItemTypes {
  TOwnedItems() = default;
  ~TOwnedItems() { FreeExeItems(*this); }
  TOwnedItems(const TOwnedItems&) = delete;
  TOwnedItems& operator=(const TOwnedItems&) = delete;
  // The moved-from list is left empty, with nothing left to free.
  TOwnedItems(TOwnedItems&&) = default;
};
