#include "ui/app/WindowPlacement.h"

#include "core/app/SettingsStore.h"
#include "core/app/Version.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int kMinimumWidthTwips = 4000;
constexpr int kMinimumHeightTwips = 3000;
// A window's size excludes the title bar the desktop adds above it.
constexpr int kTitleBarAllowance = 40;

// The window's own name is the section, so each window keeps its own placement.
QString sectionOf(const QWidget* window) {
    const QString name = window->objectName();
    return name.isEmpty() ? QString::fromUtf8(Keys::DownloadResolution.section) : name;
}

QString keyText(const SettingKey& key) {
    return QString::fromUtf8(key.key);
}

QString read(const SettingsStore& settings, const QWidget* window, const SettingKey& key) {
    return settings.GetSetting(QString::fromUtf8(kApplicationTitle), sectionOf(window),
                               keyText(key), QString::fromUtf8(key.fixedDefault));
}

void write(SettingsStore& settings, const QWidget* window, const SettingKey& key,
           const QString& value) {
    settings.SaveSetting(QString::fromUtf8(kApplicationTitle), sectionOf(window), keyText(key),
                         value);
}

// The stored integer, or the key's default when the text is no number.
int readTwips(const SettingsStore& settings, const QWidget* window, const SettingKey& key) {
    int value = 0;
    ParseSettingInteger(QString::fromUtf8(key.fixedDefault), value);
    ParseSettingInteger(read(settings, window, key), value);
    return value;
}

int toPixels(int twips) {
    return static_cast<int>(std::lround(static_cast<double>(twips) / kTwipsPerPixel));
}

QString toTwipsText(int pixels) {
    return QString::number(static_cast<qint64>(pixels) * kTwipsPerPixel);
}

} // namespace

QString ScreenResolutionText(const QWidget* window) {
    QScreen* screen = window != nullptr ? window->screen() : nullptr;
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return QStringLiteral("0*0");
    const QSize size = screen->geometry().size();
    return QStringLiteral("%1*%2").arg(size.width()).arg(size.height());
}

void FitOnScreen(QWidget* window) {
    if (window == nullptr)
        return;
    QScreen* screen = window->screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect area = screen->availableGeometry();
    const QSize room(area.width(), std::max(area.height() - kTitleBarAllowance, 1));
    const QSize size = window->size().boundedTo(room).expandedTo(window->minimumSize());
    if (size != window->size())
        window->resize(size);
    // A position from a larger screen would leave the window partly or wholly off this one.
    const int x = std::clamp(window->x(), area.left(),
                             std::max(area.left(), area.left() + room.width() - size.width()));
    const int y = std::clamp(window->y(), area.top(),
                             std::max(area.top(), area.top() + room.height() - size.height()));
    if (QPoint(x, y) != window->pos())
        window->move(x, y);
}

void SaveWindowPlacement(const QWidget* window, SettingsStore& settings) {
    if (window == nullptr)
        return;
    if (window->isMaximized()) {
        write(settings, window, Keys::DownloadResolution, QStringLiteral("0*0"));
        return;
    }
    write(settings, window, Keys::DownloadResolution, ScreenResolutionText(window));
    const QPoint position = window->pos();
    write(settings, window, Keys::DownloadTop, toTwipsText(position.y()));
    write(settings, window, Keys::DownloadLeft, toTwipsText(position.x()));
    write(settings, window, Keys::DownloadWidth, toTwipsText(window->width()));
    write(settings, window, Keys::DownloadHeight, toTwipsText(window->height()));
}

void RestoreWindowPlacement(QWidget* window, const SettingsStore& settings) {
    if (window == nullptr)
        return;
    // "0*0" marks a window closed maximised; it must not match a screen that reports no size.
    const QString stored = read(settings, window, Keys::DownloadResolution);
    if (stored == QStringLiteral("0*0") || stored != ScreenResolutionText(window)) {
        window->setWindowState(Qt::WindowMaximized);
        return;
    }
    const int top = std::max(readTwips(settings, window, Keys::DownloadTop), 0);
    const int left = std::max(readTwips(settings, window, Keys::DownloadLeft), 0);
    const int width =
        std::max(readTwips(settings, window, Keys::DownloadWidth), kMinimumWidthTwips);
    const int height =
        std::max(readTwips(settings, window, Keys::DownloadHeight), kMinimumHeightTwips);
    window->setWindowState(Qt::WindowNoState);
    window->move(toPixels(left), toPixels(top));
    window->resize(toPixels(width), toPixels(height));
    FitOnScreen(window);
}

namespace {

// Coalesces a drag's many moves into one write.
class PlacementKeeper : public QObject {
public:
    PlacementKeeper(QWidget* window, SettingsStore& settings)
        : QObject(window), window_(window), settings_(settings) {
        pending_.setSingleShot(true);
        pending_.setInterval(300);
        connect(&pending_, &QTimer::timeout, this,
                [this] { SaveWindowPlacement(window_, settings_); });
        window->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (watched == window_ && window_->isVisible() &&
            (type == QEvent::Move || type == QEvent::Resize || type == QEvent::WindowStateChange))
            pending_.start();
        return false;
    }

private:
    QWidget* window_;
    SettingsStore& settings_;
    QTimer pending_;
};

} // namespace

void KeepWindowPlacement(QWidget* window, SettingsStore& settings) {
    if (window != nullptr)
        new PlacementKeeper(window, settings);
}

bool HasStoredPlacement(const QWidget* window, const SettingsStore& settings) {
    return window != nullptr && read(settings, window, Keys::DownloadResolution) !=
                                    QString::fromUtf8(Keys::DownloadResolution.fixedDefault);
}
