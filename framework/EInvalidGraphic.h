// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Raised by graphics when their data cannot be read or a pixel format cannot be honoured.
#include "framework/Exception.h"

class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};
