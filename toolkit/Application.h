#pragma once
// The application object and what must be set up around it: the runtime's hooks (event
// pump, message boxes), the signals that end the program, and the clipboard.

#include "runtime/Bitmap.h"

#include <QApplication>
#include <functional>
#include <initializer_list>

namespace tk {

// Catches what a handler let through, as the last safety net.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Runs handler in the event loop whenever one of these signals arrives (a logout sends
// SIGHUP, a session manager SIGTERM), so that it can end the program as the user would.
void OnSignals(std::initializer_list<int> which, std::function<void()> handler);

// Lets the runtime reach Qt: pending events, plain messages and the Yes/No question.
void InstallRuntimeHooks();

// The question box: information icon, caption "情報", buttons "はい(&Y)" and "いいえ(&N)".
bool QuestionBox(const std::string& text);
// The plain message box with one OK button.
void MessageBox(const std::string& text);

// Puts a copy of the bitmap on the clipboard, replacing what was there.
void CopyToClipboard(const rt::TBitmap& bitmap);

} // namespace tk
