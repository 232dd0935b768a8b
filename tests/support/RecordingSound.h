#pragma once

#include "core/platform/Sound.h"

#include <QStringList>

// A Sound that records the files it was asked to play.
class RecordingSound : public Sound {
public:
    void play(const QString& waveFile) override { played << waveFile; }

    QStringList played;
};
