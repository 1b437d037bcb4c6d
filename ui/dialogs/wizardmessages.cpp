#include "wizardmessages.h"

#include "dialoguebox.h"
#include "resourcelibrary.h"

void WizardWarning(QWidget* owner, unsigned textId, unsigned captionId)
{
    DialogueBox(LoadResourceString(textId), LoadResourceString(captionId), owner, kDialogueOk,
                kDialogueIconExclamation);
}
