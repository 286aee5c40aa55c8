#pragma once
// Every toolkit test records what the user would be shown instead of opening a modal box.

#include "toolkit/Dialogs.h"
#include "toolkit/Guard.h"

#include <QCoreApplication>
#include <QTest>
#include <gtest/gtest.h>
#include <string>
#include <vector>

class ToolkitTest : public ::testing::Test {
protected:
    void SetUp() override {
        tk::SetErrorHandler([this](const std::string& m) { Errors.push_back(m); });
    }
    void TearDown() override {
        tk::SetErrorHandler(nullptr);
        tk::SetFileDialogHook(nullptr);
        tk::SetColorDialogHook(nullptr);
    }
    // Lets posted events, deferred deletions and update requests run.
    static void Settle() {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
    }
    std::vector<std::string> Errors;
};
