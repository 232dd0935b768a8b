#include "core/transfer/TransferNetwork.h"

#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkProxyFactory>

#include <array>
#include <cstdlib>

namespace {

QString& userAgentValue() {
    static QString value;
    return value;
}

void shareJar(QNetworkAccessManager* manager) {
    QNetworkCookieJar* jar = TransferCookieJar();
    manager->setCookieJar(jar);
    // The manager takes the jar as its child; the jar must outlive every manager instead.
    jar->setParent(nullptr);
}

} // namespace

QNetworkCookieJar* TransferCookieJar() {
    static QNetworkCookieJar* jar = new QNetworkCookieJar;
    return jar;
}

QNetworkAccessManager* TransferNetwork(int lane) {
    static std::array<QNetworkAccessManager*, kTransferLanes> managers{};
    QNetworkAccessManager*& manager = managers[std::abs(lane % kTransferLanes)];
    if (!manager) {
        manager = new QNetworkAccessManager;
        QNetworkProxyFactory::setUseSystemConfiguration(true);
        shareJar(manager);
    }
    return manager;
}

QNetworkAccessManager* NewTransferNetwork(QObject* parent) {
    auto* manager = new QNetworkAccessManager(parent);
    shareJar(manager);
    return manager;
}

void SetTransferUserAgent(const QString& userAgent) {
    userAgentValue() = userAgent;
}

QString TransferUserAgent() {
    return userAgentValue();
}

QNetworkRequest TransferRequest(const QUrl& url) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setRawHeader("Accept-Encoding", "identity");
    if (!userAgentValue().isEmpty())
        request.setHeader(QNetworkRequest::UserAgentHeader, userAgentValue());
    return request;
}
