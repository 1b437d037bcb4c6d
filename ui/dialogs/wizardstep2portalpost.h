#pragma once

#include "importedaccount.h"

#include <QWizardPage>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;

// The step-2 page of a web-mail ("Portalpost") account: the provider category (list, the
// plug-in's categories in order, the first selected), user name and password (at most 60
// characters). The category takes the server's place. Next checks user name, then password
// (present, and holding no line break or zero byte).
class CWizardStep2Portalpost : public QWizardPage
{
    Q_OBJECT

public:
    CWizardStep2Portalpost(const std::vector<std::string>& categories, QWidget* parent = nullptr);

    std::string Category() const;
    std::string UserName() const;
    std::string Password() const;

    QComboBox* CategoryList() const { return category_; }
    QLineEdit* UserEdit() const { return user_; }
    QLineEdit* PasswordEdit() const { return password_; }

    bool validatePage() override;

private:
    QComboBox* category_;
    QLineEdit* user_;
    QLineEdit* password_;
};
