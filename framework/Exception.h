// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The framework's exception classes. Everything the framework raises derives from Exception,
// so a handler that wants "any framework error" has one class to catch.
#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An object was destroyed while references to it were still counted, or freed twice.
class EInvalidPointer : public Exception {
public:
    using Exception::Exception;
};

// An interface reference was asked for an interface its object does not offer.
class EIntfCastError : public Exception {
public:
    using Exception::Exception;
};
