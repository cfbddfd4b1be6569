#include "tools/swfgen/swf_writer.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <stdexcept>

namespace {

constexpr int kTwips = 20;  // SWF coordinates are in twentieths of a pixel

// Tag codes of the few tags a movie of ours uses.
enum : uint16_t {
  kTagEnd = 0,
  kTagShowFrame = 1,
  kTagDefineShape = 2,
  kTagSetBackgroundColor = 9,
  kTagDoAction = 12,
  kTagPlaceObject2 = 26,
};

// Action codes (ActionScript 1 byte code).
enum : uint8_t {
  kActionEnd = 0x00,
  kActionStringAdd = 0x21,
  kActionGetVariable = 0x1C,
  kActionGetUrl = 0x83,
  kActionPush = 0x96,
  kActionGetUrl2 = 0x9A,
};

// Packs bit fields most significant bit first, as SWF records want them.
class TBitWriter {
 public:
  void Unsigned(uint32_t Value, int Bits) {
    for (int i = Bits - 1; i >= 0; --i) Bit((Value >> i) & 1);
  }
  void Signed(int32_t Value, int Bits) { Unsigned(static_cast<uint32_t>(Value), Bits); }
  // Pads the last byte with zero bits and hands the bytes out.
  std::vector<uint8_t> Take() {
    if (FUsed) FBytes.push_back(FCurrent);
    FCurrent = 0;
    FUsed = 0;
    return std::move(FBytes);
  }

 private:
  void Bit(uint32_t B) {
    FCurrent = static_cast<uint8_t>(FCurrent | (B << (7 - FUsed)));
    if (++FUsed == 8) {
      FBytes.push_back(FCurrent);
      FCurrent = 0;
      FUsed = 0;
    }
  }
  std::vector<uint8_t> FBytes;
  uint8_t FCurrent = 0;
  int FUsed = 0;
};

// Bits a signed field needs to hold every value given.
int SignedBits(std::initializer_list<int32_t> Values) {
  int bits = 1;
  for (int32_t v : Values) {
    int n = 1;
    while (n < 32 && !(v >= -(int64_t{1} << (n - 1)) && v < (int64_t{1} << (n - 1)))) ++n;
    bits = std::max(bits, n);
  }
  return bits;
}

void Append(std::vector<uint8_t>& Out, const std::vector<uint8_t>& Bytes) {
  Out.insert(Out.end(), Bytes.begin(), Bytes.end());
}
void U8(std::vector<uint8_t>& Out, uint32_t V) { Out.push_back(static_cast<uint8_t>(V)); }
void U16(std::vector<uint8_t>& Out, uint32_t V) {
  U8(Out, V);
  U8(Out, V >> 8);
}
void U32(std::vector<uint8_t>& Out, uint32_t V) {
  U16(Out, V);
  U16(Out, V >> 16);
}
void Rgb(std::vector<uint8_t>& Out, uint32_t Color) {
  U8(Out, Color >> 16);
  U8(Out, Color >> 8);
  U8(Out, Color);
}
void CString(std::vector<uint8_t>& Out, const std::string& S) {
  Out.insert(Out.end(), S.begin(), S.end());
  Out.push_back(0);
}

std::vector<uint8_t> Rect(int32_t XMin, int32_t XMax, int32_t YMin, int32_t YMax) {
  const int bits = SignedBits({XMin, XMax, YMin, YMax});
  TBitWriter w;
  w.Unsigned(static_cast<uint32_t>(bits), 5);
  for (int32_t v : {XMin, XMax, YMin, YMax}) w.Signed(v, bits);
  return w.Take();
}

// A matrix that only translates.
std::vector<uint8_t> Translate(int32_t X, int32_t Y) {
  const int bits = SignedBits({X, Y});
  TBitWriter w;
  w.Unsigned(0, 1);  // no scale
  w.Unsigned(0, 1);  // no rotation
  w.Unsigned(static_cast<uint32_t>(bits), 5);
  w.Signed(X, bits);
  w.Signed(Y, bits);
  return w.Take();
}

void Tag(std::vector<uint8_t>& Out, uint16_t Code, const std::vector<uint8_t>& Body) {
  // The short header holds lengths up to 62; 63 announces a 32-bit length.
  if (Body.size() < 0x3F) {
    U16(Out, static_cast<uint32_t>(Code) << 6 | static_cast<uint32_t>(Body.size()));
  } else {
    U16(Out, static_cast<uint32_t>(Code) << 6 | 0x3F);
    U32(Out, static_cast<uint32_t>(Body.size()));
  }
  Append(Out, Body);
}

// A square of side Side twips centred on the origin, filled with Color.
std::vector<uint8_t> DefineSquare(uint16_t Id, int32_t Side, uint32_t Color) {
  const int32_t h = Side / 2;
  std::vector<uint8_t> body;
  U16(body, Id);
  Append(body, Rect(-h, h, -h, h));
  U8(body, 1);  // one fill style
  U8(body, 0x00);  // solid
  Rgb(body, Color);
  U8(body, 0);  // no line styles
  TBitWriter w;
  w.Unsigned(1, 4);  // fill index bits
  w.Unsigned(0, 4);  // line index bits
  // Style change: move to the top-left corner and pick fill style 1 for the
  // right-hand side of the edges, which run clockwise on screen.
  w.Unsigned(0, 1);  // not an edge
  w.Unsigned(0, 1);  // no new styles
  w.Unsigned(0, 1);  // no line style
  w.Unsigned(1, 1);  // fill style 1
  w.Unsigned(0, 1);  // no fill style 0
  w.Unsigned(1, 1);  // move to
  const int moveBits = SignedBits({-h});
  w.Unsigned(static_cast<uint32_t>(moveBits), 5);
  w.Signed(-h, moveBits);
  w.Signed(-h, moveBits);
  w.Unsigned(1, 1);  // fill style 1 index
  const int32_t edges[4][2] = {{Side, 0}, {0, Side}, {-Side, 0}, {0, -Side}};
  const int lineBits = std::max(2, SignedBits({Side, -Side}));
  for (const auto& e : edges) {
    w.Unsigned(1, 1);  // edge
    w.Unsigned(1, 1);  // straight
    w.Unsigned(static_cast<uint32_t>(lineBits - 2), 4);
    w.Unsigned(1, 1);  // general line: both deltas follow
    w.Signed(e[0], lineBits);
    w.Signed(e[1], lineBits);
  }
  w.Unsigned(0, 6);  // end of shape
  Append(body, w.Take());
  return body;
}

// An action record that carries a payload: its code, the payload's length, the payload.
std::vector<uint8_t> ActionWithPayload(uint8_t Code, const std::vector<uint8_t>& Payload) {
  std::vector<uint8_t> out;
  U8(out, Code);
  U16(out, static_cast<uint32_t>(Payload.size()));
  Append(out, Payload);
  return out;
}

std::vector<uint8_t> PushStrings(std::initializer_list<std::string> Values) {
  std::vector<uint8_t> payload;
  for (const auto& v : Values) {
    U8(payload, 0);  // string
    CString(payload, v);
  }
  return ActionWithPayload(kActionPush, payload);
}

// getURL(Url, Target) with both texts fixed: an FSCommand when Url starts
// with "FSCommand:", loadMovieNum(Url, N) when Target is "_levelN".
std::vector<uint8_t> StaticGetUrl(const std::string& Url, const std::string& Target) {
  std::vector<uint8_t> payload;
  CString(payload, Url);
  CString(payload, Target);
  return ActionWithPayload(kActionGetUrl, payload);
}

std::vector<uint8_t> StaticFsCommand(const std::string& Command, const std::string& Args) {
  return StaticGetUrl("FSCommand:" + Command, Args);
}

// FSCommand "echo" whose arguments are built at run time from variables.
std::vector<uint8_t> EchoVariables(const std::vector<std::string>& Names) {
  std::vector<uint8_t> out = PushStrings({"FSCommand:echo"});
  for (size_t i = 0; i < Names.size(); ++i) {
    Append(out, PushStrings({(i ? "&" : "") + Names[i] + "=", Names[i]}));
    U8(out, kActionGetVariable);
    U8(out, kActionStringAdd);
    if (i) U8(out, kActionStringAdd);
  }
  if (Names.empty()) Append(out, PushStrings({""}));
  U8(out, kActionGetUrl2);
  U16(out, 1);
  U8(out, 0);  // plain GET, target is a window name: for FSCommand the args
  return out;
}

void CheckRange(int Value, int Low, int High, const char* What) {
  if (Value < Low || Value > High)
    throw std::invalid_argument(std::string(What) + " must be " + std::to_string(Low) + ".." +
                                std::to_string(High) + ", got " + std::to_string(Value));
}

}  // namespace

std::vector<uint8_t> BuildSwfMovie(const TSwfMovieOptions& O) {
  CheckRange(O.Width, 1, 4096, "width");
  CheckRange(O.Height, 1, 4096, "height");
  CheckRange(O.FramesPerSecond, 1, 255, "frames per second");
  CheckRange(O.Frames, 1, 16000, "frames");
  CheckRange(O.QuitAfterFrames, 0, 16000, "quit frame");
  if (O.Background > 0xFFFFFF || O.ShapeColor > 0xFFFFFF)
    throw std::invalid_argument("colours are RRGGBB");
  const int frames = std::max(O.Frames, O.QuitAfterFrames);

  std::vector<uint8_t> tags;
  std::vector<uint8_t> bg;
  Rgb(bg, O.Background);
  Tag(tags, kTagSetBackgroundColor, bg);
  const int32_t w = O.Width * kTwips, h = O.Height * kTwips;
  const int32_t side = std::max(kTwips, std::min(w, h) / 4);
  Tag(tags, kTagDefineShape, DefineSquare(1, side, O.ShapeColor));

  for (int f = 1; f <= frames; ++f) {
    // The square travels left to right and back once per timeline, so a
    // looping movie moves without a jump.
    const int32_t span = std::max(0, w - side);
    const int64_t phase = frames > 1 ? int64_t{2} * span * (f - 1) / frames : 0;
    const int32_t x = side / 2 + static_cast<int32_t>(phase <= span ? phase : 2 * span - phase);
    std::vector<uint8_t> place;
    U8(place, f == 1 ? 0x06 : 0x05);  // matrix + character / matrix + move
    U16(place, 1);                    // depth
    if (f == 1) U16(place, 1);        // character id
    Append(place, Translate(x, h / 2));
    Tag(tags, kTagPlaceObject2, place);

    std::vector<uint8_t> actions;
    if ((f == 1 || O.EchoEveryFrame) && !O.EchoVariables.empty()) Append(actions, EchoVariables(O.EchoVariables));
    if (f == 1 && !O.LoadMovie.empty()) Append(actions, StaticGetUrl(O.LoadMovie, "_level1"));
    if (O.ReportFrames) Append(actions, StaticFsCommand("frame", std::to_string(f)));
    if (f == O.QuitAfterFrames) Append(actions, StaticFsCommand(O.QuitCommand, ""));
    if (!actions.empty()) {
      U8(actions, kActionEnd);
      Tag(tags, kTagDoAction, actions);
    }
    Tag(tags, kTagShowFrame, {});
  }
  Tag(tags, kTagEnd, {});

  std::vector<uint8_t> header = {'F', 'W', 'S', 6};
  U32(header, 0);  // file length, filled in below
  Append(header, Rect(0, w, 0, h));
  U16(header, static_cast<uint32_t>(O.FramesPerSecond) << 8);  // 8.8 fixed point
  U16(header, static_cast<uint32_t>(frames));
  Append(header, tags);
  const uint32_t length = static_cast<uint32_t>(header.size());
  for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<uint8_t>(length >> (8 * i));
  return header;
}

const char kSwfgenUsage[] =
    "usage: swfgen --out FILE [options]\n"
    "  writes an uncompressed SWF (version 6, ActionScript 1): a background colour\n"
    "  and a square that moves left to right and back once per timeline.\n"
    "  --size WxH               stage size in pixels (320x240)\n"
    "  --fps N                  frames per second, 1..255 (30)\n"
    "  --frames N               frames in the timeline (60)\n"
    "  --bg RRGGBB              background colour (000040)\n"
    "  --shape RRGGBB           colour of the square (FFFFFF)\n"
    "  --quit-after-frames N    frame N sends FSCommand \"quit\" (lengthens the movie if needed)\n"
    "  --quit-command WORD      the command that frame sends instead of \"quit\"\n"
    "  --echo-flashvars A,B,..  frame 1 sends FSCommand \"echo\" with \"A=<A>&B=<B>...\",\n"
    "                           the values of those variables (FlashVars become variables)\n"
    "  --echo-every-frame       every frame sends that echo (_xmouse,_ymouse: where the\n"
    "                           movie last saw the pointer, a press included)\n"
    "  --report-frames          every frame sends FSCommand \"frame\" with its number\n"
    "  --load-movie URL         frame 1 loads the movie URL (relative: beside this one)\n"
    "                           into level 1, over this movie\n";

namespace {

int ParseInt(const std::string& S, const char* What) {
  char* end = nullptr;
  const long v = std::strtol(S.c_str(), &end, 10);
  if (S.empty() || *end != '\0' || v < -1000000 || v > 1000000)
    throw std::invalid_argument(std::string(What) + " needs a number, got \"" + S + "\"");
  return static_cast<int>(v);
}

uint32_t ParseColor(const std::string& S) {
  std::string hex = S;
  if (!hex.empty() && hex[0] == '#') hex.erase(0, 1);
  char* end = nullptr;
  const unsigned long v = std::strtoul(hex.c_str(), &end, 16);
  if (hex.size() != 6 || *end != '\0')
    throw std::invalid_argument("a colour is RRGGBB (six hexadecimal digits), got \"" + S + "\"");
  return static_cast<uint32_t>(v);
}

}  // namespace

TSwfgenCommand ParseSwfgenArgs(const std::vector<std::string>& Args) {
  TSwfgenCommand c;
  for (size_t i = 0; i < Args.size(); ++i) {
    const std::string& a = Args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= Args.size()) throw std::invalid_argument(a + " needs a value");
      return Args[++i];
    };
    if (a == "--out") {
      c.Out = value();
    } else if (a == "--size") {
      const std::string v = value();
      const size_t x = v.find('x');
      if (x == std::string::npos) throw std::invalid_argument("--size needs WxH, got \"" + v + "\"");
      c.Movie.Width = ParseInt(v.substr(0, x), "--size");
      c.Movie.Height = ParseInt(v.substr(x + 1), "--size");
    } else if (a == "--fps") {
      c.Movie.FramesPerSecond = ParseInt(value(), "--fps");
    } else if (a == "--frames") {
      c.Movie.Frames = ParseInt(value(), "--frames");
    } else if (a == "--bg") {
      c.Movie.Background = ParseColor(value());
    } else if (a == "--shape") {
      c.Movie.ShapeColor = ParseColor(value());
    } else if (a == "--quit-after-frames") {
      c.Movie.QuitAfterFrames = ParseInt(value(), "--quit-after-frames");
      if (c.Movie.QuitAfterFrames < 1) throw std::invalid_argument("--quit-after-frames needs 1 or more");
    } else if (a == "--quit-command") {
      c.Movie.QuitCommand = value();
    } else if (a == "--echo-flashvars") {
      const std::string v = value();
      size_t start = 0;
      while (start <= v.size()) {
        const size_t comma = std::min(v.find(',', start), v.size());
        if (comma > start) c.Movie.EchoVariables.push_back(v.substr(start, comma - start));
        start = comma + 1;
      }
      if (c.Movie.EchoVariables.empty()) throw std::invalid_argument("--echo-flashvars needs names");
    } else if (a == "--echo-every-frame") {
      c.Movie.EchoEveryFrame = true;
    } else if (a == "--report-frames") {
      c.Movie.ReportFrames = true;
    } else if (a == "--load-movie") {
      c.Movie.LoadMovie = value();
      if (c.Movie.LoadMovie.empty()) throw std::invalid_argument("--load-movie needs an address");
    } else {
      throw std::invalid_argument("unknown argument \"" + a + "\"");
    }
  }
  if (c.Out.empty()) throw std::invalid_argument("--out FILE is required");
  return c;
}
