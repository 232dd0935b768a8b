#pragma once

#include "core/platform/Sound.h"

#include <QHash>

class QSoundEffect;

// Sound through Qt Multimedia. Each clip is loaded once and kept, so a clip asked for again
// starts at once; two different clips may sound together.
class QtSound : public Sound {
public:
    QtSound();
    ~QtSound() override;
    QtSound(const QtSound&) = delete;
    QtSound& operator=(const QtSound&) = delete;

    void play(const QString& waveFile) override;

private:
    QHash<QString, QSoundEffect*> effects_;
};
