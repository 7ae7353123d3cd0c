#pragma once

#include <exception>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace batch {

// Work that several items of one run depend on and that is done once (the
// sprite sheet all the frames of a sequence go into): the first item to ask
// for a key does it, every other item that asks for that key waits for it
// and gets the same result, or the same exception. The item doing the work
// never waits for another one, so the run can't stall however few items it
// runs at once. Shared by all items of the run.
class SharedWork {
public:
    // The result of `work` for `key`, doing it on this thread when no item
    // has asked for the key before. Keys of different result types must
    // differ.
    template <typename Result, typename Work>
    std::shared_ptr<const Result> once(const std::string& key, Work&& work) {
        std::promise<std::shared_ptr<const void>> promise;
        std::shared_future<std::shared_ptr<const void>> outcome;
        bool doIt = false;
        {
            std::lock_guard lock(mutex_);
            auto [it, added] = outcomes_.try_emplace(key);
            if (added) {
                it->second = promise.get_future().share();
                doIt = true;
            }
            outcome = it->second;
        }
        if (doIt) {
            try {
                promise.set_value(std::make_shared<const Result>(std::forward<Work>(work)()));
            } catch (...) {
                promise.set_exception(std::current_exception());
            }
        }
        return std::static_pointer_cast<const Result>(outcome.get());
    }

private:
    std::mutex mutex_;
    std::map<std::string, std::shared_future<std::shared_ptr<const void>>> outcomes_;
};

} // namespace batch
