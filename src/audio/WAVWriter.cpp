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

WAVWriter::WriteError WAVWriter::WriteError::badFormat(const fs::path& file, const std::string& reason) {
    return WriteError("Could not write " + file.filename().string() + ": " + reason);
}

struct WAVWriter::Impl {
    fs::path path;
    std::optional<core::AtomicFile> atomic;
    std::FILE* out = nullptr;
    std::uint32_t sampleRate = 0;
    std::uint64_t dataBytes = 0;
    std::uint64_t riffSizeLimit = kRiffSizeLimit; // beyond it RF64
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
    // Past 4 GiB the file becomes RF64 (EBU Tech 3306): "RF64" in place of
    // "RIFF", a "ds64" chunk with the 64-bit sizes right after "WAVE", and
    // the 32-bit size fields set to 0xFFFFFFFF. The ds64 chunk needs 36 bytes
    // in front of the fmt chunk, so the data moves back by that much, block
    // by block from the end. Only files this long pay for it; shorter ones
    // keep the plain 44-byte RIFF header every reader knows.
    void convertToRF64(std::uint32_t blockAlign) {
        const int fd = ::fileno(out);
        const std::uint64_t padded = dataBytes + (dataBytes % 2);
        constexpr std::uint64_t kDs64Bytes = 36;
        std::vector<unsigned char> block(8u << 20);
        std::uint64_t remaining = padded;
        while (remaining > 0) {
            const std::uint64_t n = std::min<std::uint64_t>(remaining, block.size());
            const std::uint64_t from = kHeaderBytes + remaining - n;
            if (!readAt(fd, block.data(), n, from)) fail(std::strerror(errno ? errno : EIO));
            if (!writeAt(fd, block.data(), n, from + kDs64Bytes)) fail(std::strerror(errno ? errno : EIO));
            remaining -= n;
        }
        std::vector<unsigned char> h;
        h.insert(h.end(), {'R', 'F', '6', '4'});
        putLE(h, 0xFFFFFFFFu, 4);
        h.insert(h.end(), {'W', 'A', 'V', 'E', 'd', 's', '6', '4'});
        putLE(h, 28, 4);
        const std::uint64_t riffSize = kHeaderBytes + kDs64Bytes - 8 + padded;
        const std::uint64_t frames = blockAlign ? dataBytes / blockAlign : 0;
        for (std::uint64_t v : {riffSize, dataBytes, frames}) {
            putLE(h, static_cast<std::uint32_t>(v & 0xFFFFFFFFu), 4);
            putLE(h, static_cast<std::uint32_t>(v >> 32), 4);
        }
        putLE(h, 0, 4); // no table entries
        // fmt chunk as written at the start, then the data chunk's header.
        std::vector<unsigned char> fmt(24);
        if (!readAt(fd, fmt.data(), fmt.size(), 12)) fail(std::strerror(errno ? errno : EIO));
        h.insert(h.end(), fmt.begin(), fmt.end());
        h.insert(h.end(), {'d', 'a', 't', 'a'});
        putLE(h, 0xFFFFFFFFu, 4);
        if (!writeAt(fd, h.data(), h.size(), 0)) fail(std::strerror(errno ? errno : EIO));
        if (std::fseek(out, 0, SEEK_END) != 0) fail(std::strerror(errno));
    }
    static bool readAt(int fd, unsigned char* data, std::uint64_t size, std::uint64_t offset) {
        while (size > 0) {
            const ssize_t n = ::pread(fd, data, size, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data += n;
            size -= static_cast<std::uint64_t>(n);
            offset += static_cast<std::uint64_t>(n);
        }
        return true;
    }
    static bool writeAt(int fd, const unsigned char* data, std::uint64_t size, std::uint64_t offset) {
        while (size > 0) {
            const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data += n;
            size -= static_cast<std::uint64_t>(n);
            offset += static_cast<std::uint64_t>(n);
        }
        return true;
    }

    void writeBytes(const unsigned char* data, std::size_t size) {
        if (size == 0) return;
        if (std::fwrite(data, 1, size, out) != size) fail(errno ? std::strerror(errno) : "the disk refused the data");
    }
};

WAVWriter::WAVWriter(const fs::path& file, double sampleRate, int channels, int bitDepth,
                     std::uint64_t riffSizeLimit)
    : impl_(std::make_unique<Impl>()), channels_(channels), bitDepth_(bitDepth) {
    impl_->path = file;
    impl_->riffSizeLimit = std::min(riffSizeLimit, kRiffSizeLimit);
    impl_->uncaught = std::uncaught_exceptions();
    if (bitDepth != 16 && bitDepth != 24) throw WriteError::badFormat(file, "only 16- and 24-bit WAV files are written");
    if (channels < 1 || channels > 8) throw WriteError::badFormat(file, "unsupported channel count");
    if (!std::isfinite(sampleRate) || sampleRate < 1 || sampleRate > 1e6 || sampleRate != std::floor(sampleRate))
        throw WriteError::badFormat(file, "unsupported sample rate");
    impl_->sampleRate = static_cast<std::uint32_t>(sampleRate);
    std::error_code ec;
    if (fs::is_directory(file, ec)) throw WriteError::cannotWrite(file, "a folder of that name is in the way");

    impl_->atomic.emplace(file);
    impl_->out = std::fopen(impl_->atomic->tempPath().c_str(), "w+b"); // read back for RF64
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
    if (std::fflush(im.out) != 0) im.fail(std::strerror(errno));
    if (riff > im.riffSizeLimit) {
        im.convertToRF64(static_cast<std::uint32_t>(channels_ * bitDepth_ / 8));
    } else {
        std::vector<unsigned char> field;
        auto patch = [&](long offset, std::uint64_t value) {
            field.clear();
            putLE(field, static_cast<std::uint32_t>(value), 4);
            if (std::fseek(im.out, offset, SEEK_SET) != 0) im.fail(std::strerror(errno));
            im.writeBytes(field.data(), field.size());
        };
        patch(4, riff);
        patch(40, im.dataBytes);
    }
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
