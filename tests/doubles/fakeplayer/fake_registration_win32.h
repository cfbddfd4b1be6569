// Registering the fake player in the test Wine prefix (tests only).
// Everything written lives under HKCR\CLSID\{D27CDB6E-AE6D-11CF-96B8-444553540000}.
#pragma once
#include <string>

enum class TFakePlayerVariant {
  V9,         // version resource 9.0.124.0
  V7,         // product version 7.0.19.0, file version 7.0.0.1
  NoVersion,  // no version resource
};

// Windows path of the variant's DLL in the build tree.
std::string FakePlayerPath(TFakePlayerVariant Variant);
// Makes ServerPath (written exactly as given) the class's in-process server.
bool RegisterFakePlayer(const std::string& ServerPath);
bool RegisterFakePlayer(TFakePlayerVariant Variant);
// The InprocServer32 key without its default value.
bool RegisterFakePlayerWithoutPath();
// Removes the class key and everything below it; true when nothing is left.
bool UnregisterFakePlayer();
