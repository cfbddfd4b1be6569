// The page configuration of a `plws play` run: what the saver would give
// its player control in that mode.
#include "tools/plws/platform.h"
#include "tools/plws/play.h"
#include "util/utils.h"

std::string AnsiToUtf8(const std::string& Text) {
  if (IsValidUtf8(Text)) return Text;
  if (auto sjis = ShiftJisToUtf8(Text)) return *sjis;
  std::string out;
  for (unsigned char c : Text) AppendUtf8(out, c);
  return out;
}

TPageConfig PageConfigFor(const TPlayerSettings& S, bool Preview, const std::string& MovieUrl,
                          const std::string& BaseUrl) {
  TPageConfig c;
  c.MovieUrl = MovieUrl;
  c.BaseUrl = BaseUrl;
  c.FlashVars = AnsiToUtf8(ComposeFlashVars(S.FlashVars, Preview ? "preview" : "normal"));
  c.Preview = Preview;
  // The saver sets the scale only full screen; a preview keeps the player's
  // own default, which shows the whole stage.
  c.Scale = PageScaleFor(Preview ? "" : S.Scale);
  c.Quality = PageQualityFor(S.Quality);
  c.Background = PageBackgroundFor(S.BackColor);
  c.Menu = S.Menu;
  c.StopByMouse = S.StopByMouse.value_or(true);
  c.StopByKey = S.StopByKey.value_or(true);
  // Full screen hides the pointer unless the package shows it.
  c.ShowCursor = Preview || S.ShowMouseCursor.value_or(false);
  return c;
}
