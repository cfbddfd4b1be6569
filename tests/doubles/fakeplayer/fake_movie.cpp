#include "tests/doubles/fakeplayer/fake_movie.h"

#include "util/utils.h"

namespace {

constexpr std::string_view kMarker = "FSCommand:";

// The text from Pos up to the next NUL (or the end), and the position after
// that NUL.
std::string_view TakeUntilNul(std::string_view Data, size_t& Pos) {
  const size_t end = Data.find('\0', Pos);
  const size_t stop = end == std::string_view::npos ? Data.size() : end;
  std::string_view text = Data.substr(Pos, stop - Pos);
  Pos = end == std::string_view::npos ? Data.size() : end + 1;
  return text;
}

}  // namespace

std::optional<TFsCommand> FindFSCommand(std::string_view Movie) {
  const size_t at = Movie.find(kMarker);
  if (at == std::string_view::npos) return std::nullopt;
  size_t pos = at + kMarker.size();
  TFsCommand result;
  result.Command = std::string(TakeUntilNul(Movie, pos));
  result.Args = std::string(TakeUntilNul(Movie, pos));
  return result;
}

std::string EscapeLogField(std::string_view Text) {
  if (Text.empty()) return "\\e";
  std::string out;
  out.reserve(Text.size());
  for (const char c : Text) {
    const auto b = static_cast<unsigned char>(c);
    switch (c) {
      case ' ': out += "\\s"; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (b < 0x20 || b == 0x7f)
          out += "\\x" + HexByte(b, false);
        else
          out += c;
    }
  }
  return out;
}

std::string UnescapeLogField(std::string_view Field) {
  if (Field == "\\e") return {};
  std::string out;
  for (size_t i = 0; i < Field.size(); ++i) {
    if (Field[i] != '\\' || i + 1 == Field.size()) {
      out += Field[i];
      continue;
    }
    const char k = Field[++i];
    switch (k) {
      case 's': out += ' '; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'x':
        if (const int byte = HexPairValue(Field, i + 1); byte >= 0) {
          out += static_cast<char>(byte);
          i += 2;
        } else {
          out += "\\x";
        }
        break;
      default: out += k;  // "\\" and anything unknown stand for the byte itself
    }
  }
  return out;
}
