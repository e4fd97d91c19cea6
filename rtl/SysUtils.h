// Run-time library: exceptions, text formatting and conversions.
//
// The exception classes mirror those of the classic run-time library that the
// rest of the system raises and catches by class. Every exception carries a
// complete, user-readable message (Message()). EAbort is the silent exception:
// the application's error box never shows it.
//
// Threads: every function here is reentrant; exception objects are values.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    ~Exception() override = default;
    const std::string& Message() const noexcept { return FMessage; }
    void SetMessage(std::string message) { FMessage = std::move(message); }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// Silent: raised to end an operation without an error box.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
    explicit EAbort(std::string message) : Exception(std::move(message)) {}
};

class EConvertError : public Exception { using Exception::Exception; };
class EInvalidCast : public Exception {
public:
    EInvalidCast() : Exception("Invalid class typecast") {}
    explicit EInvalidCast(std::string message) : Exception(std::move(message)) {}
};
class EAssertionFailed : public Exception { using Exception::Exception; };

// File and stream errors.
class EInOutError : public Exception {
public:
    EInOutError(std::string message, int errorCode = 0) : Exception(std::move(message)), ErrorCode(errorCode) {}
    int ErrorCode;
};
class EStreamError : public Exception { using Exception::Exception; };
class EFileStreamError : public EStreamError { using EStreamError::EStreamError; };
class EFOpenError : public EFileStreamError { using EFileStreamError::EFileStreamError; };
class EFCreateError : public EFileStreamError { using EFileStreamError::EFileStreamError; };
class EReadError : public EStreamError { using EStreamError::EStreamError; };
class EWriteError : public EStreamError { using EStreamError::EStreamError; };

// COM/OLE errors: EOleSysError carries the failed HRESULT; EOleException
// additionally the message and source that the server reported.
class EOleError : public Exception { using Exception::Exception; };
class EOleSysError : public EOleError {
public:
    EOleSysError(std::string message, std::int32_t errorCode) : EOleError(std::move(message)), ErrorCode(errorCode) {}
    std::int32_t ErrorCode;
};
class EOleException : public EOleSysError {
public:
    EOleException(std::string message, std::int32_t errorCode, std::string source = {})
        : EOleSysError(std::move(message), errorCode), Source(std::move(source)) {}
    std::string Source;
};
