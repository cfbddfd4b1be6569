// libFuzzer target: any bytes as what the browser sends on its DevTools
// pipe. Fed in pieces of every size, the framer gives back exactly the
// NUL-separated texts of the input, in order, whatever the cuts (or fails
// once an unfinished text outgrows its limit, and then gives nothing). Each
// text either reads as a message (a whole-number id or a method) or is
// refused, and a message read once reads the same when its JSON is read
// again, and a command built from it is one JSON object. Base64 that
// decodes encodes to a text of its length that decodes to the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "flash/base64.h"
#include "flash/browser_player.h"
#include "flash/json.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const auto block = ExactCopy(Data, Size);
  const std::string input(reinterpret_cast<const char*>(block.get()), Size);
  constexpr size_t kLimit = 1024;

  // The texts the framer must give: every NUL-ended piece.
  std::vector<std::string> expected;
  for (size_t start = 0, nul; (nul = input.find('\0', start)) != std::string::npos; start = nul + 1)
    expected.push_back(input.substr(start, nul - start));

  TDevToolsFramer framer(kLimit);
  std::vector<std::string> got;
  const size_t step = Size ? 1 + Data[0] % 17 : 1;
  bool failed = false;
  for (size_t at = 0; at < Size && !failed; at += step) {
    failed = !framer.Append(input.data() + at, std::min(step, Size - at));
    while (auto m = framer.Next()) got.push_back(*m);
    failed = failed || framer.Failed();
  }
  FUZZ_CHECK(got.size() <= expected.size(), "more messages than NUL-ended pieces");
  for (size_t i = 0; i < got.size(); ++i) FUZZ_CHECK(got[i] == expected[i], "a message differs from its piece");
  if (!failed) FUZZ_CHECK(got.size() == expected.size(), "a complete message was not given back");
  if (failed) {
    FUZZ_CHECK(!framer.Next(), "a failed framer still gives messages");
    bool longPiece = false;
    size_t start = 0;
    for (const auto& e : expected) longPiece = longPiece || e.size() > kLimit, start += e.size() + 1;
    longPiece = longPiece || Size - std::min(start, Size) > kLimit;
    FUZZ_CHECK(longPiece, "failed without a piece over the limit");
  }

  for (const std::string& text : expected) {
    const auto m = ReadDevToolsMessage(text);
    if (!m) continue;
    FUZZ_CHECK(m->Id || !m->Method.empty(), "a message with neither id nor method");
    const auto again = ReadDevToolsMessage(text);
    FUZZ_CHECK(again && again->Id == m->Id && again->Method == m->Method && again->SessionId == m->SessionId,
               "a message reads differently the second time");
    // What we would send back about it is one JSON object.
    const auto command = ParseJson(DevToolsCommand(m->Id.value_or(1), m->Method, "", m->SessionId));
    FUZZ_CHECK(command && command->Kind == TJson::Object, "a command is no JSON object");
    const TJson* method = command->Get("method");
    FUZZ_CHECK(method && (m->Method.empty() || !IsValidUtf8(m->Method) || method->StringValue == m->Method),
               "a method name does not survive JsonString");
  }

  // Decoding takes the unused bits of a last group as they come, so what
  // decodes need not be the canonical text; its bytes go there and back.
  if (const auto bytes = Base64Decode(input)) {
    const std::string canonical = Base64Encode(bytes->data(), bytes->size());
    FUZZ_CHECK(canonical.size() == input.size(), "base64 of another length");
    FUZZ_CHECK(Base64Decode(canonical) == bytes, "base64 does not decode back to its bytes");
  }
  return 0;
}
