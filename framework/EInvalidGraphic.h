#pragma once
// Raised by graphics when their data cannot be read or a pixel format cannot be honoured.
#include <stdexcept>
#include <string>

class EInvalidGraphic : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
