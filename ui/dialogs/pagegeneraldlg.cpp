#include "pagegeneraldlg.h"

#include "autostartentry.h"
#include "dialogtext.h"
#include "dialoguebox.h"
#include "programkey.h"
#include "registrykey.h"
#include "regsettings.h"
#include "resourcelibrary.h"
#include "systemkeyring.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>

namespace
{

constexpr unsigned kMessageCaption = 61376;

// "ForUser" under the machine's program key; absent counts as 1 (machine-wide).
bool MachineWide()
{
    CRegistryKey key;
    uint32_t forUser = 1;
    if (key.Open(RegistryRoot::LocalMachine, ProgramKey::Path()))
        key.ReadDword("ForUser", forUser);
    return forUser != 0;
}

} // namespace

CPageGeneralDlg::CPageGeneralDlg(const SettingsEnvironment& env, QWidget* parent)
    : QWidget(parent), env_(env)
{
    CRegSettings settings;
    settings.LoadGeneral();
    startup_ = new QCheckBox(DlgText::Text(DlgText::kStartup), this);
    startup_->setChecked(settings.general.startup.Get());
    minimum_ = new QCheckBox(DlgText::Text(DlgText::kMinimum), this);
    minimum_->setChecked(settings.general.minimum.Get());
    clients_ = new QComboBox(this);
    command_ = new QLineEdit(this);
    // Made after the mail client's fields, below which it stands: the tab order follows.
    keyring_ = new QCheckBox(DlgText::Text(DlgText::kKeepInKeyring), this);
    keyring_->setChecked(settings.general.keepPasswordsInKeyring.Get());
    for (const MailClientInfo& c : env.mailClients) {
        if (c.name.empty() || c.command.empty())
            continue;
        shown_.push_back(c);
        clients_->addItem(QString::fromStdString(c.name));
    }
    const int named = clients_->findText(QString::fromStdString(settings.general.mailClient.Get()),
                                         Qt::MatchExactly);
    if (named >= 0) {
        clients_->setCurrentIndex(named);
        command_->setText(QString::fromStdString(shown_[named].command));
    } else if (!shown_.empty()) {
        clients_->setCurrentIndex(0);
        command_->setText(QString::fromStdString(shown_[0].command));
    }
    connect(clients_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0 && index < static_cast<int>(shown_.size()))
            command_->setText(QString::fromStdString(shown_[index].command));
    });

    auto* form = new QFormLayout(this);
    form->addRow(startup_);
    form->addRow(minimum_);
    form->addRow(DlgText::Text(DlgText::kMailClient), clients_);
    form->addRow(DlgText::Text(DlgText::kMailCommand), command_);
    form->addRow(keyring_);
    Apply();
}

void CPageGeneralDlg::Apply()
{
    CAutostartEntry entry = env_.autostartUserDir.empty()
                                ? CAutostartEntry()
                                : CAutostartEntry(env_.autostartUserDir, env_.autostartSystemDir);
    CRegSettings settings;
    settings.LoadGeneral();
    if (startup_->isChecked()) {
        // Without a known program path no entry is written, but the wish is kept.
        if (!env_.executable.empty())
            entry.Write(env_.executable, ProgramKey::ApplicationWord(), MachineWide());
        settings.general.startup.Set(true);
    } else {
        entry.Remove();
        settings.general.startup.Set(false);
    }
    settings.general.minimum.Set(minimum_->isChecked());
    settings.general.mailClient.Set(
        clients_->currentIndex() < 0 ? std::string() : clients_->currentText().toStdString());
    settings.general.mailClientPath.Set(command_->text().toStdString());
    const bool keyringWas = settings.general.keepPasswordsInKeyring.Get();
    settings.general.keepPasswordsInKeyring.Set(keyring_->isChecked());
    settings.SaveGeneral();
    if (keyring_->isChecked() != keyringWas && env_.moveSecrets) {
        SystemKeyring::AllowPromptAgain();
        const std::vector<std::string> failed = env_.moveSecrets(keyring_->isChecked());
        if (!failed.empty()) {
            std::string text = DlgText::Text(DlgText::kSecretsStayed).toStdString();
            for (const std::string& line : failed)
                text += "\n" + line;
            DialogueBox(text, LoadResourceString(kMessageCaption), this, kDialogueOk,
                        kDialogueIconExclamation);
        }
    }
}
