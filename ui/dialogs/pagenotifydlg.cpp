#include "pagenotifydlg.h"

#include "dialogtext.h"
#include "quiethours.h"
#include "regsettings.h"
#include "resourceids.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>
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
    desktop_ = box(ResId::kUseDesktopNotices, n.desktopNotify.Get());
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
    auto timeEdit = [this](const std::string& stored) {
        auto* edit = new QTimeEdit(this);
        edit->setDisplayFormat(QStringLiteral("HH:mm"));
        const std::optional<int> minutes = QuietHours::ParseTime(stored);
        edit->setTime(QTime(0, 0).addSecs(minutes.value_or(0) * 60));
        return edit;
    };
    auto* fromLabel = new QLabel(DlgText::Text(ResId::kQuietFrom), this);
    quietFrom_ = timeEdit(n.quietFrom.Get());
    fromLabel->setBuddy(quietFrom_);
    auto* untilLabel = new QLabel(DlgText::Text(ResId::kQuietUntil), this);
    quietUntil_ = timeEdit(n.quietUntil.Get());
    untilLabel->setBuddy(quietUntil_);
    // A window only the settings file could hold (one time missing) shows as none.
    if (!QuietHours::FromSettings(n.quietFrom.Get(), n.quietUntil.Get()).Defined())
        quietUntil_->setTime(quietFrom_->time());
    followDnd_ = box(ResId::kFollowDoNotDisturb, n.followDoNotDisturb.Get());

    auto* layout = new QVBoxLayout(this);
    for (QCheckBox* b : {flash_, effect3d_, client_, message_, desktop_, led_, sound_})
        layout->addWidget(b);
    auto* soundRow = new QHBoxLayout;
    soundRow->addWidget(file_, 1);
    soundRow->addWidget(browse_);
    soundRow->addWidget(play_);
    layout->addLayout(soundRow);
    auto* quietRow = new QHBoxLayout;
    quietRow->addWidget(fromLabel);
    quietRow->addWidget(quietFrom_);
    quietRow->addWidget(untilLabel);
    quietRow->addWidget(quietUntil_);
    quietRow->addStretch();
    layout->addLayout(quietRow);
    layout->addWidget(followDnd_);
    layout->addStretch();

    // Desktop notices replace the popup: without the popup there is nothing to send.
    connect(message_, &QCheckBox::toggled, desktop_, &QWidget::setEnabled);
    desktop_->setEnabled(message_->isChecked());

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
    n.desktopNotify.Set(desktop_->isChecked());
    // The same time twice is no quiet time: stored as none.
    const bool quiet = quietFrom_->time() != quietUntil_->time();
    n.quietFrom.Set(quiet ? quietFrom_->time().toString(QStringLiteral("HH:mm")).toStdString()
                          : std::string());
    n.quietUntil.Set(quiet ? quietUntil_->time().toString(QStringLiteral("HH:mm")).toStdString()
                           : std::string());
    n.followDoNotDisturb.Set(followDnd_->isChecked());
    if (env_.mailLed)
        n.mailLed.Set(led_->isChecked());
    n.sound.Set(sound_->isChecked());
    n.soundFileName.Set(sound_->isChecked() ? file_->text().toStdString() : std::string());
    settings.SaveNotify();
}
