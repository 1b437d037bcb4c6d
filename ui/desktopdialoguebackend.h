#pragma once

#include "dialoguebox.h"

// DialogueBox on the desktop: a modal QMessageBox with the asked buttons (OK; OK and Cancel;
// Retry and Cancel) and icon (stop, question, exclamation, information), owned by `owner`,
// which must be a QWidget* converted to void* (or nullptr).
//
// Any thread may ask. On the user-interface thread the box is shown at once; from any other
// thread the call is carried to the user-interface thread and the caller waits for the
// answer (a blocking queued call), so every window is made on the thread that owns windows.
// A thread that asks must therefore not be one the user-interface thread is waiting for
// without a time limit. Without a QApplication (or once it is shutting down) the headless
// answer is given: the text goes to standard error and the affirmative button is answered.
//
// Results: 1 OK, 2 Cancel, 4 Retry. Closing the box (Escape) answers Cancel when the box has
// one, else OK.
class DesktopDialogueBackend : public DialogueBackend
{
public:
    int Show(const std::string& text, const std::string& caption, void* owner, int buttons,
             int icon) override;

    // The box itself; the caller must be on the user-interface thread.
    static int ShowNow(const std::string& text, const std::string& caption, void* owner,
                       int buttons, int icon);

private:
    HeadlessDialogueBackend fallback_;
};
