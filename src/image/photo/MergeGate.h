#pragma once

#include <type_traits>
#include <utility>

#include "core/SerialExecutor.h"

namespace image {

// Lets one exposure fusion run at a time in the whole process, whichever
// batch worker asks. An actor: the operations run one by one, in the order
// they arrive, on the gate's own thread; callers block until theirs is done.
// Nothing else is serialised.
class MergeGate {
public:
    static MergeGate& shared();

    // Runs `operation` on the gate and returns its value, or rethrows what it
    // threw. Called from the gate's own thread (a merge inside a merge) it
    // runs directly instead of waiting for itself.
    template <typename Fn> std::invoke_result_t<Fn> run(Fn operation) {
        if (executor_.isCurrent()) return operation();
        return executor_.submit(std::move(operation)).get();
    }

    MergeGate(const MergeGate&) = delete;
    MergeGate& operator=(const MergeGate&) = delete;

private:
    MergeGate() = default;
    core::SerialExecutor executor_;
};

} // namespace image
