#include "pagenotifydlg.h"

#include "dialogtext.h"
#include "regsettings.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CPageNotifyDlg::CPageNotifyDlg(const SettingsEnvironment& env, QWidget* parent)
    : QWidget(parent), env_(env)
{
    CRegSettings settings;
    settings.LoadNotify();
    const auto& n = settings.notify;
    auto box = [this](unsigned text, bool on) {
        auto* b = new QCheckBox(DlgText::Text(text), this);
        b->setChecked(on);
        return b;
    };
    flash_ = box(DlgText::kFlashIcon, n.flashIcon.Get());
    effect3d_ = box(DlgText::kEffect3d, n.effect3d.Get());
    client_ = box(DlgText::kStartClient, n.mailClient.Get());
    message_ = box(DlgText::kPopup, n.message.Get());
    led_ = box(DlgText::kMailLed, env.mailLed && n.mailLed.Get());
    led_->setEnabled(env.mailLed);
    sound_ = box(DlgText::kSound, n.sound.Get());
    file_ = new QLineEdit(this);
    file_->setReadOnly(true);
    // Room for a file name with a folder or two in front of it.
    file_->setMinimumWidth(file_->fontMetrics().averageCharWidth() * 32);
    if (n.sound.Get())
        file_->setText(QString::fromStdString(n.soundFileName.Get()));
    browse_ = new QPushButton(DlgText::Text(DlgText::kBrowse), this);
    play_ = new QPushButton(DlgText::Text(DlgText::kPlay), this);

    auto* layout = new QVBoxLayout(this);
    for (QCheckBox* b : {flash_, effect3d_, client_, message_, led_, sound_})
        layout->addWidget(b);
    auto* soundRow = new QHBoxLayout;
    soundRow->addWidget(file_, 1);
    soundRow->addWidget(browse_);
    soundRow->addWidget(play_);
    layout->addLayout(soundRow);
    layout->addStretch();

    connect(sound_, &QCheckBox::toggled, this, &CPageNotifyDlg::SoundToggled);
    connect(browse_, &QPushButton::clicked, this, &CPageNotifyDlg::Browse);
    connect(play_, &QPushButton::clicked, this, &CPageNotifyDlg::Play);
    SoundToggled(sound_->isChecked());
}

void CPageNotifyDlg::SoundToggled(bool on)
{
    file_->setEnabled(on);
    browse_->setEnabled(on);
    play_->setEnabled(on);
}

void CPageNotifyDlg::Browse()
{
    std::string chosen;
    if (env_.browse) {
        chosen = env_.browse(file_->text().toStdString());
    } else {
        chosen = QFileDialog::getOpenFileName(this, QString(), file_->text(),
                                              DlgText::Text(DlgText::kWaveFilter))
                     .toStdString();
    }
    if (chosen.empty())
        return;
    file_->setText(QString::fromStdString(chosen));
    play_->setEnabled(true);
}

void CPageNotifyDlg::Play()
{
    if (!file_->text().isEmpty() && env_.play)
        env_.play(file_->text().toStdString());
}

void CPageNotifyDlg::Apply()
{
    CRegSettings settings;
    settings.LoadNotify();
    auto& n = settings.notify;
    n.flashIcon.Set(flash_->isChecked());
    n.effect3d.Set(effect3d_->isChecked());
    n.mailClient.Set(client_->isChecked());
    n.message.Set(message_->isChecked());
    if (env_.mailLed)
        n.mailLed.Set(led_->isChecked());
    n.sound.Set(sound_->isChecked());
    n.soundFileName.Set(sound_->isChecked() ? file_->text().toStdString() : std::string());
    settings.SaveNotify();
}
