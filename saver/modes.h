// Run modes and how the command line selects them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The run mode of the host component; decided once at creation.
enum TScreenSaverMode : uint8_t {
  ssmNone = 0,      // any other letter: borderless form, input does not end it
  ssmPassword = 1,  // "A": change the screen-saver password, then end
  ssmConfig = 2,    // "C" or no argument: settings dialog, then end
  ssmPreview = 3,   // "P": disabled child of the display settings' preview window
  ssmSaver = 4,     // "E": full screen (the "S" relaunch runs this)
};

// Splits a Windows command line the way the program's argument reader does:
// blanks (code <= 32) separate arguments, double quotes group and are dropped.
// Element 0 is the program.
std::vector<std::string> SplitCommandLine(const std::string& CommandLine);

// The switch letter, upper case, from the arguments after the program name.
// No or an empty first argument counts as "/C". One leading "-" or "/" is
// dropped and only the character after it counts ("/c:1234" gives 'C',
// "//c" gives '/'). A bare "-" or "/" is an empty switch and, like a missing
// one, gives 'C': the user gets the settings dialog rather than a black window.
char ModeLetterFromArgs(const std::vector<std::string>& Args);

#ifdef _WIN32
// The switch letter of this process's command line: ModeLetterFromArgs of
// the arguments of GetCommandLineA after the program name.
char GetModeLetter();
#endif

// 'A', 'C', 'E', 'P' select their modes; every other letter ssmNone.
TScreenSaverMode ModeFromLetter(char Letter);

// The preview parent from the second argument: a signed 32-bit decimal
// integer; anything else gives 0.
int32_t ParentHandleFromArg(const std::string& Arg);
