// A blocking system call given a time limit it does not have of its own (a host name lookup
// waits on the name servers' time-outs): the call runs on a thread of its own and the caller
// waits for it no longer than the limit.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace qarn::platform {

// The call's result, or nothing when it did not end within timeoutMilliseconds. A call that
// ends later hands its result to discard, which frees what it holds.
template <class Result>
std::optional<Result> CallWithin(std::function<Result()> call, std::function<void(Result&)> discard,
                                 unsigned timeoutMilliseconds) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable ended;
        std::optional<Result> result;
        bool abandoned = false;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, call = std::move(call), discard = std::move(discard)] {
        Result result = call();
        std::lock_guard<std::mutex> lock(shared->mutex);
        if (shared->abandoned) {
            discard(result);
            return;
        }
        shared->result = std::move(result);
        shared->ended.notify_one();
    }).detach();
    std::unique_lock<std::mutex> lock(shared->mutex);
    if (!shared->ended.wait_for(lock, std::chrono::milliseconds(timeoutMilliseconds),
                                [&] { return shared->result.has_value(); })) {
        shared->abandoned = true;
        return std::nullopt;
    }
    return std::move(shared->result);
}

} // namespace qarn::platform
