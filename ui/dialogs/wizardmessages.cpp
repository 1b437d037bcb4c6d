#include "wizardmessages.h"

#include "dialoguebox.h"
#include "passwordrule.h"
#include "resourcelibrary.h"

void WizardWarning(QWidget* owner, unsigned textId, unsigned captionId)
{
    DialogueBox(LoadResourceString(textId), LoadResourceString(captionId), owner, kDialogueOk,
                kDialogueIconExclamation);
}

bool WizardPasswordRefused(QWidget* owner, const std::string& password)
{
    const std::string problem = PasswordRule::Problem(password);
    if (problem.empty())
        return false;
    DialogueBox(problem, LoadResourceString(61376), owner, kDialogueOk, kDialogueIconExclamation);
    return true;
}
