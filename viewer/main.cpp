// The program: its version, or the viewer's main block.

#include "viewer/ViewerMain.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    // Answered before Qt starts, so that it needs no display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("mapviewer %s\n", MAPVIEW_VERSION);
        return 0;
    }
    return ViewerMain(argc, argv);
}
