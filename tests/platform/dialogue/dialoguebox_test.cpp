#include "dialoguebox.h"

#include <gtest/gtest.h>

namespace
{

TEST(DialogueBox, HeadlessAnswersTheAffirmativeButtonByDefault)
{
    SetDialogueBackend(nullptr);
    struct Row {
        int buttons;
        int expected;
    } rows[] = {{kDialogueOk, kDialogueIdOk},
                {kDialogueOkCancel, kDialogueIdOk},
                {kDialogueRetryCancel, kDialogueIdRetry}};
    for (const Row& r : rows) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(DialogueBox("text", "caption", nullptr, r.buttons, kDialogueIconStop),
                  r.expected);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("caption: text"), std::string::npos) << err;
    }
}

TEST(DialogueBox, ConfiguredAnswerAndCustomBackend)
{
    auto headless = std::make_shared<HeadlessDialogueBackend>();
    headless->SetAnswer(kDialogueIdCancel);
    SetDialogueBackend(headless);
    testing::internal::CaptureStderr();
    EXPECT_EQ(DialogueBox("t", "c", nullptr, kDialogueOkCancel, kDialogueIconQuestion),
              kDialogueIdCancel);
    testing::internal::GetCapturedStderr();

    struct Recorder : DialogueBackend {
        std::string seen;
        int Show(const std::string& text, const std::string& caption, void*, int buttons,
                 int icon) override
        {
            seen =
                caption + "|" + text + "|" + std::to_string(buttons) + "|" + std::to_string(icon);
            return kDialogueIdOk;
        }
    };
    auto rec = std::make_shared<Recorder>();
    SetDialogueBackend(rec);
    DialogueBox("body", "title", nullptr, kDialogueOk, kDialogueIconExclamation);
    EXPECT_EQ(rec->seen, "title|body|0|48");
    SetDialogueBackend(nullptr);
}

} // namespace
