#pragma once
// What the management windows share: their font and their place on the screen.

class QWidget;

// Gives a management window the windows' font.
void UseFormFont(QWidget* form);
// Puts a window in the middle of its screen, frame included.
void CentreOnScreen(QWidget* form);
// Puts the window in the middle of the screen each time it is shown from hidden; coming
// back from the task bar leaves it where it was.
void CentreEachShowing(QWidget* form);
// Shows a modeless window, or brings it to the front when it is already shown.
void ShowInFront(QWidget* form);
