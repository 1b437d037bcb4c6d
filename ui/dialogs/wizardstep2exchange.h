#pragma once

#include <QWizardPage>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;

// The step-2 page of an Exchange account: the provider's profiles (none without a provider),
// the first selected; the user-name and password fields are shown disabled, the profile
// supplies both. Next refuses an empty choice with 61377 (caption 61396).
class CWizardStep2Exchange : public QWizardPage
{
    Q_OBJECT

public:
    CWizardStep2Exchange(const std::vector<std::string>& profiles, QWidget* parent = nullptr);

    std::string Profile() const;
    QComboBox* ProfileList() const { return profile_; }

    bool validatePage() override;

private:
    QComboBox* profile_;
};
