// Process ids for tests of what a save leaves behind, kept apart from the tests themselves:
// <windows.h> and the engine's own COM-shaped names do not mix in one file.
#pragma once

namespace kyvex::testing {

// The id of a process that has run and ended (and been waited for), as a killed saver's is.
unsigned long EndedProcessId();

unsigned long OwnProcessId();

}  // namespace kyvex::testing
