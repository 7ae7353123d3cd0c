#pragma once

// Field-by-field comparison of presets for the tests (the presets have no
// equality of their own).

#include <gtest/gtest.h>

#include "presets/HalvanePreset.h"
#include "presets/QuorvelPreset.h"
#include "presets/ZentrixPreset.h"

namespace presettest {

inline ::testing::AssertionResult sameOptions(const presets::HalvanePreset& a, const presets::HalvanePreset& b) {
#define QV_SAME(field)                                                                                            \
    if (!(a.field == b.field)) return ::testing::AssertionFailure() << "differs: " #field;
    QV_SAME(propertyAddress) QV_SAME(portal()) QV_SAME(webAspect) QV_SAME(mergeBrackets)
    QV_SAME(autoStraightenVerticals) QV_SAME(stripGPSMetadata) QV_SAME(exportWebPackage) QV_SAME(exportPrintPackage)
    QV_SAME(maxWebDimension) QV_SAME(maxWebFileSizeKB) QV_SAME(watermarkURL) QV_SAME(watermarkOpacity)
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult sameOptions(const presets::ZentrixPreset& a, const presets::ZentrixPreset& b) {
    QV_SAME(operationalMode) QV_SAME(engineProfile) QV_SAME(enforcePOT) QV_SAME(potScaleMode) QV_SAME(forceSquare)
    QV_SAME(maxTextureSize) QV_SAME(generateMipmaps) QV_SAME(normalTarget) QV_SAME(spriteTrim) QV_SAME(spritePadding)
    QV_SAME(spriteExtrude) QV_SAME(spriteHalfScale) QV_SAME(spriteFormat) QV_SAME(spriteRotate)
    QV_SAME(normalStrength) QV_SAME(generateMissingNormal)
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult sameOptions(const presets::QuorvelPreset& a, const presets::QuorvelPreset& b) {
    QV_SAME(showTitle) QV_SAME(hostName) QV_SAME(episodeNumber) QV_SAME(loudnessStandard()) QV_SAME(targetLUFS)
    QV_SAME(cleanup) QV_SAME(introURL) QV_SAME(outroURL) QV_SAME(generateMaster) QV_SAME(generateRSSMaster)
    QV_SAME(generateWhisperReference) QV_SAME(generateTranscripts) QV_SAME(generateAudiogram)
    QV_SAME(captionAudiogram) QV_SAME(audiogramAspect) QV_SAME(audiogramClip) QV_SAME(audiogramSeconds)
    QV_SAME(removeFillerWords) QV_SAME(chapterMode) QV_SAME(chapterList) QV_SAME(artworkURL)
#undef QV_SAME
    return ::testing::AssertionSuccess();
}

} // namespace presettest
