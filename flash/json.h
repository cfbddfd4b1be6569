// A little JSON: the DevTools protocol's messages and the page's
// configuration. Text is UTF-8 throughout.
#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct TJson {
  // Made where TJson is complete: a member list of pairs that hold TJson
  // cannot be built inside its own definition.
  TJson();
  ~TJson();
  TJson(const TJson&);
  TJson(TJson&&) noexcept;
  TJson& operator=(const TJson&);
  TJson& operator=(TJson&&) noexcept;

  enum TKind { Null, Bool, Number, String, Array, Object } Kind = Null;
  bool BoolValue = false;
  double NumberValue = 0;
  std::string StringValue;
  std::vector<TJson> Items;
  std::vector<std::pair<std::string, TJson>> Members;
  // The member Key of an object, or null.
  const TJson* Get(const std::string& Key) const;
};

// Nullopt when Text is not one complete JSON value (at most 64 levels deep).
std::optional<TJson> ParseJson(const std::string& Text);

// A JSON string literal that is safe inside an HTML <script>: only ASCII,
// with <, > and & escaped. Bad UTF-8 sequences become U+FFFD.
std::string JsonString(const std::string& Text);

bool IsValidUtf8(const std::string& Text);
