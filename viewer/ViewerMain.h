#pragma once
// The viewer's main block, shared by the program and the launcher the benchmarks time.

#include <functional>

class TFormMap;

// Makes the application object and the windows, opens the sheet named by argv[1] if any,
// and runs the event loop until the main window closes. beforeShow, when given, sees the
// main window once it is made and before it is shown.
int ViewerMain(int argc, char** argv, const std::function<void(TFormMap&)>& beforeShow = {});
