#include "batch/PresetStore.h"

#include "core/Files.h"

namespace batch {

PresetStore& PresetStore::shared() {
    static PresetStore store;
    return store;
}

void PresetStore::exportBundle(const ExportablePresetBundle& bundle, const std::filesystem::path& path) const {
    std::string bytes;
    try {
        bytes = bundle.toJson().dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::strict);
    } catch (const nlohmann::ordered_json::exception&) {
        // toJson has checked every text already; this is a last guard.
        throw core::JsonShapeError("The preset bundle cannot be saved: a text is not valid UTF-8.");
    }
    bytes += '\n';
    core::writeFileAtomically(path, bytes);
}

ExportablePresetBundle PresetStore::importPreset(const std::filesystem::path& path) const {
    const std::string bytes = core::readFile(path);
    return ExportablePresetBundle::fromJson(core::parseJson(bytes));
}

} // namespace batch
