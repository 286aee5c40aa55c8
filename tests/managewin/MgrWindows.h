#pragma once
// The three management windows made as at start-up, over a private executable directory,
// with message boxes answered by the test and the modal chooser driven while it is up.

#include "manage/UInit.h"
#include "managewin/MgrWindows.h"
#include "runtime/FileSys.h"
#include "runtime/Hooks.h"
#include "tests/TestSupport.h"
#include "toolkit/Guard.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

class MgrWindows : public ::testing::Test {
protected:
    void SetUp() override {
        Cwd = rt::GetCurrentDir();
        tk::SetErrorHandler([this](const std::string& m) { Errors.push_back(m); });
        InitMapMgr(Exe.Path());
        Windows = std::make_unique<TMgrWindows>();
    }
    void TearDown() override {
        Windows.reset();
        tk::SetErrorHandler(nullptr);
        EXPECT_EQ(rt::GetCurrentDir(), Cwd);
        EXPECT_TRUE(Errors.empty());
    }
    static void Settle() {
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }

    // Runs act once the chooser is up modally; act is to close it. Should it not, the
    // chooser is cancelled after a while and the test fails.
    static void WhileChooserUp(std::function<void()> act) {
        auto* poll = new QTimer;
        poll->setInterval(5);
        QObject::connect(poll, &QTimer::timeout, [poll, act] {
            if (QApplication::activeModalWidget() != DirDialog || !DirDialog->isVisible()) return;
            poll->stop();
            poll->deleteLater();
            act();
            QTimer::singleShot(5000, DirDialog, [] {
                if (!DirDialog->isVisible()) return;
                ADD_FAILURE() << "the chooser stayed open";
                DirDialog->reject();
            });
        });
        poll->start();
    }

    // A map-image disc whose index holds index; returns its root.
    std::string MakeImageDisc(const std::string& name, const std::string& index) {
        const std::string root = Disc.File(name);
        std::filesystem::create_directories(root + "/Data");
        testing_support::WriteAll(root + "/Data/Index.csv", {index.begin(), index.end()});
        testing_support::WriteAll(root + "/Data/Kanri.csv", {});
        return root;
    }
    std::string MakeMeshDisc(const std::string& name) {
        const std::string root = Disc.File(name);
        std::filesystem::create_directories(root);
        testing_support::WriteAll(root + "/Zumei.csv", {'a', '\r', '\n'});
        return root;
    }
    std::string Registry() const {
        auto b = testing_support::ReadAll(MgrFile);
        return {b.begin(), b.end()};
    }
    // A registry record as the map-image registration writes it.
    std::string Entry(const std::string& k1, const std::string& k2, const std::string& data) const {
        return "7," + k1 + "," + k2 + "," + data + "," + Exe.Path() + "/Gsi25kMI" + k1 + ".txt\r\n";
    }
    static std::vector<std::string> Texts(const QListWidget* list) {
        std::vector<std::string> out;
        for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
        return out;
    }
    // The widgets of a window in its tab order, from the first one on.
    static std::vector<QWidget*> TabOrder(QWidget* first, size_t count) {
        std::vector<QWidget*> out{first};
        for (QWidget* w = first->nextInFocusChain(); out.size() < count; w = w->nextInFocusChain())
            if (w->focusPolicy() & Qt::TabFocus) out.push_back(w);
        return out;
    }
    // The window's middle is the screen's, give or take its frame.
    static void ExpectCentred(QWidget* w) {
        const QPoint screen = w->screen()->geometry().center();
        const QPoint mid = w->frameGeometry().center();
        EXPECT_LE(std::abs(screen.x() - mid.x()), 8) << w->objectName().toStdString();
        EXPECT_LE(std::abs(screen.y() - mid.y()), 30) << w->objectName().toStdString();
    }

    testing_support::TTempDir Exe, Disc;
    std::string Cwd;
    testing_support::TScriptedBoxes Boxes;
    std::vector<std::string>& Messages = Boxes.Messages;
    std::vector<std::string>& Questions = Boxes.Questions;
    std::deque<bool>& Answers = Boxes.Answers;
    std::vector<std::string> Errors;
    std::unique_ptr<TMgrWindows> Windows;
};
