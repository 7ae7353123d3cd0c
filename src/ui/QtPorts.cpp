#include "ui/QtPorts.h"

#include <cmath>

#include <QCoreApplication>
#include <QHostAddress>
#include <QMetaObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

namespace ui {

Poster makeQtPoster() {
    return [](std::function<void()> fn) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) return;
        QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
    };
}

QtScheduler::QtScheduler() : context_(std::make_unique<QObject>()) {}
QtScheduler::~QtScheduler() = default; // timers are children of the context

Scheduler::Token QtScheduler::schedule(double seconds, std::function<void()> action) {
    Token token = next_++;
    auto* timer = new QTimer(context_.get());
    timer->setSingleShot(true);
    int ms = std::isfinite(seconds) && seconds > 0 ? static_cast<int>(std::min(seconds, 86400.0) * 1000) : 0;
    QObject::connect(timer, &QTimer::timeout, timer, [this, token, timer, action = std::move(action)] {
        timers_.erase(token);
        timer->deleteLater();
        action();
    });
    timers_[token] = timer;
    timer->start(ms);
    return token;
}

void QtScheduler::cancel(Token token) {
    auto it = timers_.find(token);
    if (it == timers_.end()) return;
    it->second->deleteLater();
    static_cast<QTimer*>(it->second)->stop();
    timers_.erase(it);
}

QSettingsStore::QSettingsStore(std::unique_ptr<QSettings> settings) : settings_(std::move(settings)) {}

std::optional<SettingsStore::StringMap> QSettingsStore::stringMap(const std::string& key) const {
    const QString group = QString::fromStdString(key);
    if (!settings_->childGroups().contains(group)) return std::nullopt;
    StringMap out;
    settings_->beginGroup(group);
    bool allText = true;
    for (const QString& k : settings_->childKeys()) {
        QVariant v = settings_->value(k);
        if (v.typeId() != QMetaType::QString) {
            allText = false;
            break;
        }
        out[k.toStdString()] = v.toString().toStdString();
    }
    settings_->endGroup();
    if (!allText) return std::nullopt;
    return out;
}

std::optional<std::string> QSettingsStore::text(const std::string& key) const {
    QVariant v = settings_->value(QString::fromStdString(key));
    if (!v.isValid() || v.typeId() != QMetaType::QString) return std::nullopt;
    return v.toString().toStdString();
}

std::optional<double> QSettingsStore::number(const std::string& key) const {
    QVariant v = settings_->value(QString::fromStdString(key));
    if (!v.isValid()) return std::nullopt;
    bool ok = false;
    double d = v.toDouble(&ok);
    if (!ok || !std::isfinite(d)) return std::nullopt;
    return d;
}

void QSettingsStore::setStringMap(const std::string& key, const StringMap& value) {
    const QString group = QString::fromStdString(key);
    settings_->remove(group);
    settings_->beginGroup(group);
    for (const auto& [k, v] : value) settings_->setValue(QString::fromStdString(k), QString::fromStdString(v));
    settings_->endGroup();
}

void QSettingsStore::setText(const std::string& key, const std::string& value) {
    settings_->setValue(QString::fromStdString(key), QString::fromStdString(value));
}

void QSettingsStore::setNumber(const std::string& key, double value) {
    settings_->setValue(QString::fromStdString(key), value);
}

void QSettingsStore::sync() { settings_->sync(); }

QtUpdateFetcher::QtUpdateFetcher(bool allowLoopbackHttp)
    : allowLoopbackHttp_(allowLoopbackHttp), network_(std::make_unique<QNetworkAccessManager>()) {
    network_->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

QtUpdateFetcher::~QtUpdateFetcher() = default;

void QtUpdateFetcher::fetch(const std::string& url, std::function<void(std::optional<std::string>)> done) {
    QUrl target(QString::fromStdString(url));
    bool https = target.scheme() == QLatin1String("https");
    bool loopback = target.scheme() == QLatin1String("http") && allowLoopbackHttp_ &&
                    (QHostAddress(target.host()).isLoopback() || target.host() == QLatin1String("localhost"));
    if (!target.isValid() || (!https && !loopback)) {
        QMetaObject::invokeMethod(network_.get(), [done] { done(std::nullopt); }, Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request(target);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(kTimeoutMs);
    QNetworkReply* reply = network_->get(request);
    auto body = std::make_shared<QByteArray>();
    auto tooLarge = std::make_shared<bool>(false);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, body, tooLarge] {
        body->append(reply->readAll());
        if (body->size() > kMaxBody) {
            *tooLarge = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, body, tooLarge, done] {
        body->append(reply->readAll());
        int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        bool ok = reply->error() == QNetworkReply::NoError && status == 200 && !*tooLarge && body->size() <= kMaxBody;
        reply->deleteLater();
        if (!ok) return done(std::nullopt);
        done(body->toStdString());
    });
}

} // namespace ui
