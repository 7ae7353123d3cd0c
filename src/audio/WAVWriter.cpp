#include "audio/WAVWriter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "core/Files.h"

namespace audio {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kHeaderBytes = 44;
constexpr std::uint64_t kRiffLimit = 0xFFFFFFFFull;   // largest RIFF chunk size field

void putLE(std::vector<unsigned char>& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>((v >> (8 * i)) & 0xFF));
}

// Scales by 2^(bits-1), rounds to nearest (halves away from zero), clamps;
// NaN becomes 0.
inline std::int32_t toInteger(float x, double scale, std::int32_t lo, std::int32_t hi) {
    if (std::isnan(x)) return 0;
    const double v = std::round(static_cast<double>(x) * scale);
    if (v <= lo) return lo;
    if (v >= hi) return hi;
    return static_cast<std::int32_t>(v);
}

} // namespace

WAVWriter::WriteError WAVWriter::WriteError::cannotWrite(const fs::path& file, const std::string& reason) {
    return WriteError("Could not write " + file.filename().string() + ": " + reason);
}

WAVWriter::WriteError WAVWriter::WriteError::tooLarge(const fs::path& file) {
    return WriteError("Could not write " + file.filename().string() +
                      ": the audio is too long for a WAV file (over 4 GiB)");
}

WAVWriter::WriteError WAVWriter::WriteError::badFormat(const fs::path& file, const std::string& reason) {
    return WriteError("Could not write " + file.filename().string() + ": " + reason);
}

struct WAVWriter::Impl {
    fs::path path;
    std::optional<core::AtomicFile> atomic;
    std::FILE* out = nullptr;
    std::uint32_t sampleRate = 0;
    std::uint64_t dataBytes = 0;
    std::vector<unsigned char> bytes;
    int uncaught = 0;

    ~Impl() {
        if (out) std::fclose(out);
    }

    void fail(const std::string& reason) {
        abandon();
        throw WriteError::cannotWrite(path, reason);
    }
    void abandon() noexcept {
        if (out) std::fclose(out);
        out = nullptr;
        if (atomic) atomic->discard();
        atomic.reset();
    }
    void writeBytes(const unsigned char* data, std::size_t size) {
        if (size == 0) return;
        if (std::fwrite(data, 1, size, out) != size) fail(errno ? std::strerror(errno) : "the disk refused the data");
    }
};

WAVWriter::WAVWriter(const fs::path& file, double sampleRate, int channels, int bitDepth)
    : impl_(std::make_unique<Impl>()), channels_(channels), bitDepth_(bitDepth) {
    impl_->path = file;
    impl_->uncaught = std::uncaught_exceptions();
    if (bitDepth != 16 && bitDepth != 24) throw WriteError::badFormat(file, "only 16- and 24-bit WAV files are written");
    if (channels < 1 || channels > 8) throw WriteError::badFormat(file, "unsupported channel count");
    if (!std::isfinite(sampleRate) || sampleRate < 1 || sampleRate > 1e6 || sampleRate != std::floor(sampleRate))
        throw WriteError::badFormat(file, "unsupported sample rate");
    impl_->sampleRate = static_cast<std::uint32_t>(sampleRate);
    std::error_code ec;
    if (fs::is_directory(file, ec)) throw WriteError::cannotWrite(file, "a folder of that name is in the way");

    impl_->atomic.emplace(file);
    impl_->out = std::fopen(impl_->atomic->tempPath().c_str(), "wb");
    if (!impl_->out) impl_->fail(std::strerror(errno));

    // Placeholder sizes, patched by close().
    const std::uint32_t blockAlign = static_cast<std::uint32_t>(channels * bitDepth / 8);
    std::vector<unsigned char> h;
    h.reserve(kHeaderBytes);
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    putLE(h, 0, 4);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putLE(h, 16, 4);
    putLE(h, 1, 2);   // integer PCM
    putLE(h, static_cast<std::uint32_t>(channels), 2);
    putLE(h, impl_->sampleRate, 4);
    putLE(h, impl_->sampleRate * blockAlign, 4);
    putLE(h, blockAlign, 2);
    putLE(h, static_cast<std::uint32_t>(bitDepth), 2);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    putLE(h, 0, 4);
    impl_->writeBytes(h.data(), h.size());
}

WAVWriter::~WAVWriter() {
    if (!impl_ || !impl_->out) return;
    if (std::uncaught_exceptions() > impl_->uncaught) {
        impl_->abandon();   // unwinding: never leave a partial file behind
        return;
    }
    try {
        close();
    } catch (...) {
        // A destructor cannot report; the temporary file is already gone.
    }
}

bool WAVWriter::isOpen() const { return impl_ && impl_->out != nullptr; }

void WAVWriter::write(std::span<const float> samples, std::size_t frames) {
    if (frames == 0 || !isOpen()) return;
    const std::size_t ch = static_cast<std::size_t>(channels_);
    if (samples.size() / ch < frames) frames = samples.size() / ch;
    const std::size_t bytesPerSample = static_cast<std::size_t>(bitDepth_ / 8);
    const std::uint64_t newBytes = static_cast<std::uint64_t>(frames) * ch * bytesPerSample;
    if (kHeaderBytes - 8 + impl_->dataBytes + newBytes + 1 > kRiffLimit) {
        impl_->abandon();
        throw WriteError::tooLarge(impl_->path);
    }
    const double scale = bitDepth_ == 24 ? 8388608.0 : 32768.0;
    const std::int32_t lo = bitDepth_ == 24 ? -8388608 : -32768;
    const std::int32_t hi = bitDepth_ == 24 ? 8388607 : 32767;
    auto& b = impl_->bytes;
    constexpr std::size_t kChunkSamples = 16384;
    const std::size_t total = frames * ch;
    for (std::size_t start = 0; start < total; start += kChunkSamples) {
        const std::size_t n = std::min(kChunkSamples, total - start);
        b.resize(n * bytesPerSample);
        unsigned char* o = b.data();
        for (std::size_t i = 0; i < n; ++i) {
            const auto v = static_cast<std::uint32_t>(toInteger(samples[start + i], scale, lo, hi));
            for (std::size_t k = 0; k < bytesPerSample; ++k) *o++ = static_cast<unsigned char>((v >> (8 * k)) & 0xFF);
        }
        impl_->writeBytes(b.data(), b.size());
    }
    impl_->dataBytes += newBytes;
    framesWritten_ += frames;
}

void WAVWriter::close() {
    if (!isOpen()) return;
    Impl& im = *impl_;
    if (im.dataBytes % 2 == 1) {
        const unsigned char pad = 0;
        im.writeBytes(&pad, 1);
    }
    const std::uint64_t riff = kHeaderBytes - 8 + im.dataBytes + (im.dataBytes % 2);
    std::vector<unsigned char> field;
    auto patch = [&](long offset, std::uint64_t value) {
        field.clear();
        putLE(field, static_cast<std::uint32_t>(value), 4);
        if (std::fseek(im.out, offset, SEEK_SET) != 0) im.fail(std::strerror(errno));
        im.writeBytes(field.data(), field.size());
    };
    patch(4, riff);
    patch(40, im.dataBytes);
    if (std::fflush(im.out) != 0) im.fail(std::strerror(errno));
    if (::fsync(::fileno(im.out)) != 0) im.fail(std::strerror(errno));
    std::FILE* f = im.out;
    im.out = nullptr;
    if (std::fclose(f) != 0) im.fail(std::strerror(errno));
    try {
        im.atomic->commit();
    } catch (const std::exception& e) {
        im.abandon();
        throw WriteError(e.what());
    }
    im.atomic.reset();
}

} // namespace audio
