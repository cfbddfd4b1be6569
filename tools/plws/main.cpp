#include "tools/plws/plws.h"

int main(int argc, char** argv) { return PlwsMain(argc, argv); }
