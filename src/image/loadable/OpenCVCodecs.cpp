// OpenCV's image codecs, built as a module of their own that the image
// engine loads when a picture first needs them (CodecModule.cpp). Linking
// them into the programs loads GDAL, GDCM and the libraries those bring at
// every start, about 26 MB resident before any work, in a podcast edition
// that may never read a PNG or TIFF. OpenCV's exceptions pass through to
// the engine as they are.

#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#define QUORVEL_EXPORT extern "C" __attribute__((visibility("default")))

QUORVEL_EXPORT void quorvelDecodeImage(const cv::Mat* encoded, int flags, cv::Mat* decoded) {
    *decoded = cv::imdecode(*encoded, flags);
}

QUORVEL_EXPORT bool quorvelEncodeImage(const std::string* extension, const cv::Mat* image,
                                       std::vector<unsigned char>* encoded) {
    return cv::imencode(*extension, *image, *encoded);
}
