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
    auto box = [this](unsigned text, const std::string& value) {
        auto* b = new QCheckBox(DlgText::Text(text), this);
        b->setChecked(value == "1");
        return b;
    };
    flash_ = box(DlgText::kFlashIcon, n.flashIcon);
    effect3d_ = box(DlgText::kEffect3d, n.effect3d);
    client_ = box(DlgText::kStartClient, n.mailClient);
    message_ = box(DlgText::kPopup, n.message);
    led_ = box(DlgText::kMailLed, env.mailLed ? n.mailLed : std::string());
    led_->setEnabled(env.mailLed);
    sound_ = box(DlgText::kSound, n.sound);
    file_ = new QLineEdit(this);
    file_->setReadOnly(true);
    // Room for a file name with a folder or two in front of it.
    file_->setMinimumWidth(file_->fontMetrics().averageCharWidth() * 32);
    if (n.sound == "1")
        file_->setText(QString::fromStdString(n.soundFileName));
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
    auto flag = [](const QCheckBox* b) { return std::string(b->isChecked() ? "1" : "0"); };
    n.flashIcon = flag(flash_);
    n.effect3d = flag(effect3d_);
    n.mailClient = flag(client_);
    n.message = flag(message_);
    if (env_.mailLed)
        n.mailLed = flag(led_);
    if (sound_->isChecked()) {
        n.sound = "1";
        n.soundFileName = file_->text().toStdString();
    } else {
        n.sound = "0";
        n.soundFileName.clear();
    }
    settings.SaveNotify();
}
