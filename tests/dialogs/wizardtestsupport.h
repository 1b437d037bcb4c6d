#pragma once

#include "accountplugins.h"
#include "accountwizard.h"
#include "wizardstep1.h"
#include "wizardstep2server.h"

#include <QComboBox>
#include <QLineEdit>
#include <string>
#include <vector>

// Plug-in answers of a machine with an Exchange provider and two profiles.
class ExchangePlugins : public AccountPlugins
{
public:
    int MapiPresent() const override { return 1; }
    std::vector<std::string> Profiles() const override { return {"Office", "Home"}; }
};

// Chooses the kind by its stored literal ("IMAP4"); the list itself shows the user's words.
inline void SelectKind(CAccountWizard& wizard, const char* kind)
{
    QComboBox* list = wizard.Step1()->KindList();
    list->setCurrentIndex(list->findData(QString::fromUtf8(kind)));
}

// Step 1 filled and Next pressed; true when the wizard moved on.
inline bool PassStep1(CAccountWizard& wizard, const char* name, const char* kind)
{
    wizard.Step1()->NameEdit()->setText(QString::fromUtf8(name));
    SelectKind(wizard, kind);
    const int before = wizard.currentId();
    wizard.next();
    return wizard.currentId() != before;
}

inline void FillServer(CWizardStep2Server* page, const char* server, const char* user,
                       const char* password)
{
    page->ServerEdit()->setText(QString::fromUtf8(server));
    page->UserEdit()->setText(QString::fromUtf8(user));
    page->PasswordEdit()->setText(QString::fromUtf8(password));
}
