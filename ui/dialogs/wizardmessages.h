#pragma once

#include <QWidget>
#include <string>

// The warning every wizard check shows: an OK box with the exclamation icon, caption 61376
// unless another caption number is given.
void WizardWarning(QWidget* owner, unsigned textId, unsigned captionId = 61376);

// The password rule of the store (PasswordRule): shows its refusal as a wizard warning and
// answers true when `password` is refused.
bool WizardPasswordRefused(QWidget* owner, const std::string& password);
