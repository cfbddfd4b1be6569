// A Windows program that does nothing: the cost of starting any program
// under Wine, against which the saver's start-up is measured.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
