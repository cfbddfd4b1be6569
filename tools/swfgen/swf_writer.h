// Writes small, valid, uncompressed SWF movies of our own: a background
// colour, a square moving across the stage and optional ActionScript 1
// actions that talk to the host through FSCommands. Test movies and the
// sample saver's movie come from here, so no third-party movie is needed.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct TSwfMovieOptions {
  int Width = 320;           // stage size in pixels
  int Height = 240;
  int FramesPerSecond = 30;  // 1..255
  int Frames = 60;           // frames of the main timeline, >= 1
  uint32_t Background = 0x000040;  // 0xRRGGBB, set with SetBackgroundColor
  uint32_t ShapeColor = 0xFFFFFF;  // the moving square
  // Frame (1-based) whose actions send FSCommand QuitCommand; 0 = never.
  // A value past Frames lengthens the movie to reach it.
  int QuitAfterFrames = 0;
  std::string QuitCommand = "quit";
  // Variables whose values the first frame sends back as FSCommand "echo"
  // with the arguments "name1=value1&name2=value2..." in this order.
  std::vector<std::string> EchoVariables;
  // Every frame sends the echo, not only the first ("_xmouse" and "_ymouse"
  // then report where the pointer is on the stage).
  bool EchoEveryFrame = false;
  // Every frame sends FSCommand "frame" with its 1-based number as text.
  bool ReportFrames = false;
  // A movie that frame 1 loads into level 1, over this one (loadMovieNum);
  // a relative address is looked up beside this movie. Empty = none.
  std::string LoadMovie;
};

// The complete file. Throws std::invalid_argument for options out of range.
std::vector<uint8_t> BuildSwfMovie(const TSwfMovieOptions& Options);

// Options from swfgen's command line (without the program name). Throws
// std::invalid_argument with a message for the user on a bad argument.
struct TSwfgenCommand {
  std::string Out;
  TSwfMovieOptions Movie;
};
TSwfgenCommand ParseSwfgenArgs(const std::vector<std::string>& Args);
extern const char kSwfgenUsage[];
