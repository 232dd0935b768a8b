#pragma once

#include <QString>

// Plays the program's wave clips. The real program plays them through the desktop's sound
// device; tests record what was asked.
class Sound {
public:
    virtual ~Sound() = default;
    // Starts playing the wave file and returns at once. A machine without a sound device, or
    // a file that cannot be played, plays nothing and reports nothing.
    virtual void play(const QString& waveFile) = 0;
};
