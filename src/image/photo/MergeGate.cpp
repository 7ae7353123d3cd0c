#include "image/photo/MergeGate.h"

namespace image {

MergeGate& MergeGate::shared() {
    static MergeGate gate;
    return gate;
}

} // namespace image
