// The engine's internal error type.
//
// Inside the engine every failure is an engine::EngineError carrying the
// user-readable message (naming the file, column, index or position concerned)
// and the status that the operation reports. The COM methods of the engine
// objects are the one boundary that turns it into a failed HRESULT with error
// info (or into a plain status for the misuse statuses -10 to -13).
//
// Threads: a value type; any thread.
#pragma once

#include <stdexcept>
#include <string>

namespace engine {

enum Status : int {
    stOk = 0,
    stFailed = -1,
    stMisuse = -10,
    stAlreadyOpen = -11,
    stUnsupportedType = -12,
    stInvalidIndex = -13,
    stSeekEqual = 7,
    stSeekGreater = 1,
    stSeekNone = 0,
};

class EngineError : public std::runtime_error {
public:
    explicit EngineError(const std::string& message, int status = stFailed)
        : std::runtime_error(message), FStatus(status) {}
    int Status() const noexcept { return FStatus; }

private:
    int FStatus;
};

}  // namespace engine
