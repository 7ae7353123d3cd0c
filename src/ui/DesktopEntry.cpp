#include "ui/DesktopEntry.h"

#include <algorithm>

#include <QMimeDatabase>
#include <fmt/format.h>

namespace ui {

namespace {

// A value of the "string" type: backslash and line breaks escaped.
std::string escapedString(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

// One quoted argument of Exec: '"', '`', '$' and '\' escaped inside the
// quotes, '%' doubled; the whole value then escaped as a string.
std::string quotedArgument(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += '"';
    return escapedString(quoted);
}

// Supported files the shared MIME database has no type for: Core Audio
// files are known to the desktop only by the name their players give them.
std::string_view typeTheDatabaseLacks(std::string_view extension) {
    if (extension == "caf") return "audio/x-caf";
    return {};
}

} // namespace

std::vector<std::string> mimeTypesForExtensions(const std::set<std::string>& extensions) {
    const QMimeDatabase database;
    std::set<std::string> types;
    for (const std::string& ext : extensions) {
        if (const auto lacking = typeTheDatabaseLacks(ext); !lacking.empty()) types.emplace(lacking);
        for (const QMimeType& type : database.mimeTypesForFileName(QStringLiteral("x.") + QString::fromStdString(ext))) {
            if (type.isDefault()) continue;
            types.insert(type.name().toStdString());
            for (const QString& alias : type.aliases()) types.insert(alias.toStdString());
        }
    }
    return {types.begin(), types.end()};
}

std::string desktopEntryText(const DesktopEntry& entry, const std::filesystem::path& program) {
    std::string mime;
    for (const std::string& type : mimeTypesForExtensions(entry.extensions)) mime += type + ';';
    std::string categories = entry.categories;
    if (!categories.empty() && categories.back() != ';') categories += ';';
    return fmt::format("[Desktop Entry]\n"
                       "Type=Application\n"
                       "Version=1.0\n"
                       "Name={}\n"
                       "Comment={}\n"
                       "TryExec={}\n"
                       "Exec={} %F\n"
                       "Icon={}\n"
                       "Terminal=false\n"
                       "StartupNotify=true\n"
                       "Categories={}\n"
                       "MimeType={}\n",
                       escapedString(entry.name), escapedString(entry.comment), escapedString(program.string()),
                       quotedArgument(program.string()), escapedString(entry.id), escapedString(categories), mime);
}

} // namespace ui
