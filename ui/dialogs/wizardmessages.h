#pragma once

#include <QWidget>

// The warning every wizard check shows: an OK box with the exclamation icon, caption 61376
// unless another caption number is given.
void WizardWarning(QWidget* owner, unsigned textId, unsigned captionId = 61376);
