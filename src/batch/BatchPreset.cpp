#include "batch/BatchPreset.h"

namespace batch {

bool BatchPreset::canProcess(const BatchItem& item) const {
    std::string ext = item.fileExtension;
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return supportedExtensions().contains(ext);
}

} // namespace batch
