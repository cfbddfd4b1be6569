// Nothing but a version resource is needed of this library.
extern "C" __declspec(dllexport) int PlVersionProbe() { return 7; }
