#include "soundplayer.h"

#include <QAudioDevice>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

CSoundPlayer::CSoundPlayer(QObject* parent) : QObject(parent)
{
}

CSoundPlayer::~CSoundPlayer() = default;

bool CSoundPlayer::HasAudioOutput()
{
    return !QMediaDevices::audioOutputs().isEmpty();
}

bool CSoundPlayer::Play(const std::string& fileName)
{
    const QString path = QString::fromStdString(fileName);
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile() || !info.isReadable() || !HasAudioOutput())
        return false;
    if (effect_)
        effect_->stop();
    // A fresh effect per sound: the source of a loaded effect cannot change while it plays.
    effect_ = std::make_unique<QSoundEffect>();
    effect_->setSource(QUrl::fromLocalFile(info.absoluteFilePath()));
    // The effect loads the file in the background; it plays once loaded, or not at all when
    // the file turns out not to be a wave file it can decode.
    effect_->play();
    return true;
}
