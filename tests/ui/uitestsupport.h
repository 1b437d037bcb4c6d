#pragma once

#include "dialoguebox.h"
#include "support/tempdir.h"

#include <QCoreApplication>
#include <memory>
#include <string>
#include <vector>

// A message box that records what it was asked and answers as told.
class RecordingDialogue : public DialogueBackend
{
public:
    struct Call {
        std::string text;
        std::string caption;
        int buttons = 0;
        int icon = 0;
    };

    int Show(const std::string& text, const std::string& caption, void*, int buttons,
             int icon) override
    {
        calls.push_back({text, caption, buttons, icon});
        return answer;
    }

    std::vector<Call> calls;
    int answer = kDialogueIdOk;
};

// A data folder and a settings folder of the test's own, and a recording message box, for
// the life of the object.
class UiSandbox
{
public:
    UiSandbox()
        : home_("POSTWATCH_HOME", dir_.File("data")),
          config_("XDG_CONFIG_HOME", dir_.File("config")),
          dialogue(std::make_shared<RecordingDialogue>())
    {
        SetDialogueBackend(dialogue);
    }
    ~UiSandbox() { SetDialogueBackend(nullptr); }
    UiSandbox(const UiSandbox&) = delete;
    UiSandbox& operator=(const UiSandbox&) = delete;

    const TempDir& Dir() const { return dir_; }

private:
    TempDir dir_;
    ScopedEnv home_;
    ScopedEnv config_;

public:
    std::shared_ptr<RecordingDialogue> dialogue;
};
