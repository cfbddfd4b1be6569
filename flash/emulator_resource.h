// The resource that carries the Flash emulator in the saver (RCDATA): a
// package whose items are the emulator's files by name, and "version", the
// Flash Player version the emulator reports to movies. Included by the
// resource script too, so only the preprocessor's language here.
#pragma once
#define PL_EMULATOR_RESOURCE 201
// The Flash Player version it reports, as dotted text (RCDATA).
#define PL_EMULATOR_VERSION_RESOURCE 202
