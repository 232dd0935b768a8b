#include "ui/platform/QtSound.h"

#include <QAudioDevice>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

namespace {

void discardMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

// The first question to the audio layer connects to the desktop's sound server; on a machine
// without one that connection complains on stderr. Having no sound is not the user's
// problem, so the complaints of that one call are dropped.
QAudioDevice quietDefaultOutput() {
    static bool asked = false;
    if (asked)
        return QMediaDevices::defaultAudioOutput();
    asked = true;
    const QtMessageHandler previous = qInstallMessageHandler(discardMessage);
    QAudioDevice device = QMediaDevices::defaultAudioOutput();
    qInstallMessageHandler(previous);
    return device;
}

} // namespace

QtSound::QtSound() = default;

QtSound::~QtSound() {
    qDeleteAll(effects_);
}

void QtSound::play(const QString& waveFile) {
    if (!QFileInfo(waveFile).isFile())
        return;
    // Without a device the effect would say so on every play.
    const QAudioDevice device = quietDefaultOutput();
    if (device.isNull())
        return;
    QSoundEffect*& effect = effects_[waveFile];
    if (!effect) {
        effect = new QSoundEffect;
        effect->setSource(QUrl::fromLocalFile(waveFile));
    }
    effect->setAudioDevice(device);
    effect->play();
}
