#pragma once

#include <memory>
#include <string>

// Message boxes for every part of the program and the plug-ins.
//
// DialogueBox(text, caption, owner, buttons, icon) is modal and returns the id of the
// button pressed. Which window system shows it is decided by the installed backend: the
// desktop installs one that shows a message box on its UI thread (from any thread); the
// default backend is headless (text on standard error, a configurable answer).

// Button styles.
constexpr int kDialogueOk = 0;
constexpr int kDialogueOkCancel = 1;
constexpr int kDialogueRetryCancel = 5;

// Icon styles.
constexpr int kDialogueIconStop = 16;
constexpr int kDialogueIconQuestion = 32;
constexpr int kDialogueIconExclamation = 48;
constexpr int kDialogueIconInformation = 64;

// Results: the id of the button pressed.
constexpr int kDialogueIdOk = 1;
constexpr int kDialogueIdCancel = 2;
constexpr int kDialogueIdRetry = 4;

class DialogueBackend
{
public:
    virtual ~DialogueBackend() = default;
    // `owner` is an opaque window handle of the front end (may be null).
    virtual int Show(const std::string& text, const std::string& caption, void* owner, int buttons,
                     int icon) = 0;
};

// Writes "caption: text" to standard error and answers with a fixed id. The default
// answer is the affirmative button of the style (OK, or Retry for Retry/Cancel) unless
// SetAnswer() chose another.
class HeadlessDialogueBackend : public DialogueBackend
{
public:
    int Show(const std::string& text, const std::string& caption, void* owner, int buttons,
             int icon) override;
    void SetAnswer(int id) { answer_ = id; }

private:
    int answer_ = 0; // 0: the affirmative button of the style
};

int DialogueBox(const std::string& text, const std::string& caption, void* owner, int buttons,
                int icon);

// Installs a backend (thread-safe); nullptr restores the headless default.
void SetDialogueBackend(std::shared_ptr<DialogueBackend> backend);
