#pragma once

#include "wizardstep2server.h"

// The step-2 page of an IMAP4 account (messages 61379, 61380, 61381).
class CWizardStep2IMAP4 : public CWizardStep2Server
{
    Q_OBJECT

public:
    explicit CWizardStep2IMAP4(QWidget* parent = nullptr) : CWizardStep2Server("IMAP4", parent) {}
};
