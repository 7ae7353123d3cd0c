#include "ui/WindowSnapshot.h"

#include <cmath>
#include <filesystem>

#include <QApplication>
#include <QScrollArea>
#include <QTimer>
#include <QWidget>

#include "core/Numbers.h"
#include "core/Text.h"

namespace ui {

std::optional<WindowSnapshot::Request> WindowSnapshot::parse(const std::vector<std::string>& args) {
    auto find = [&](const std::string& name) -> std::optional<size_t> {
        for (size_t i = 0; i < args.size(); ++i)
            if (args[i] == name) return i;
        return std::nullopt;
    };
    auto at = find("--snapshot");
    if (!at || *at + 1 >= args.size()) return std::nullopt;
    Request request;
    request.path = args[*at + 1];
    if (auto s = find("--snapshot-size"); s && *s + 1 < args.size()) {
        std::vector<double> numbers;
        for (const auto& piece : core::split(core::toLower(args[*s + 1]), 'x', false))
            if (auto v = core::parseDouble(piece)) numbers.push_back(*v);
        if (numbers.size() == 2 && numbers[0] >= 1 && numbers[1] >= 1 && numbers[0] <= 16384 && numbers[1] <= 16384)
            request.size = std::make_pair(static_cast<int>(std::lround(numbers[0])), static_cast<int>(std::lround(numbers[1])));
    }
    return request;
}

std::string WindowSnapshot::optionsPath(const std::string& path) {
    std::filesystem::path p(path);
    p.replace_extension();
    return p.string() + "-options.png";
}

void WindowSnapshot::captureIfRequested(const std::vector<std::string>& arguments) {
    auto request = parse(arguments);
    if (!request) return;
    QTimer::singleShot(1000, qApp, [request = *request] {
        QWidget* window = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->isWindow() && !w->windowFlags().testFlag(Qt::Popup)) {
                window = w;
                break;
            }
        if (!window) {
            QApplication::quit();
            return;
        }
        if (request.size) window->resize(request.size->first, request.size->second);
        QTimer::singleShot(1500, qApp, [window, request] {
            std::filesystem::path out = std::filesystem::absolute(request.path);
            window->grab().save(QString::fromStdString(out.string()), "PNG");
            QWidget* tallest = nullptr;
            for (QScrollArea* area : window->findChildren<QScrollArea*>()) {
                QWidget* doc = area->widget();
                if (doc && (!tallest || doc->height() > tallest->height())) tallest = doc;
            }
            if (tallest)
                tallest->grab(tallest->rect()).save(QString::fromStdString(optionsPath(out.string())), "PNG");
            QApplication::quit();
        });
    });
}

} // namespace ui
