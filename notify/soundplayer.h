#pragma once

#include <QObject>
#include <memory>
#include <string>

class QSoundEffect;

// Plays the new-mail sound, a wave file, without waiting for it. Nothing plays, and nothing
// waits, when the machine has no audio output (a sound effect would otherwise stay "playing"
// for ever), when the file is missing or is no regular file, or when it cannot be decoded.
// A new sound replaces one still playing.
//
// Threads: the GUI thread only.
class CSoundPlayer : public QObject
{
    Q_OBJECT
public:
    explicit CSoundPlayer(QObject* parent = nullptr);
    ~CSoundPlayer() override;

    // True when the sound was handed to the audio output.
    bool Play(const std::string& fileName);

    static bool HasAudioOutput();

private:
    std::unique_ptr<QSoundEffect> effect_;
};
