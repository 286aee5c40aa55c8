// Test main for suites that need a QApplication: offscreen unless a platform is set.

#include "toolkit/Application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    tk::TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
