#pragma once

#include "wizardstep2server.h"

// The step-2 page of a POP3 account (messages 61378, 61380, 61381).
class CWizardStep2POP3 : public CWizardStep2Server
{
    Q_OBJECT

public:
    explicit CWizardStep2POP3(QWidget* parent = nullptr) : CWizardStep2Server("POP3", parent) {}
};
