// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Streams are Qt I/O devices: a QBuffer is the memory stream (its bytes can be addressed
// directly), a QFile the file stream. The helpers read or write exactly the bytes asked for
// and raise the framework's stream errors otherwise.
#include "framework/Exception.h"

#include <QIODevice>
#include <cstdint>

using TStream = QIODevice;

inline constexpr const char* kReadErrorText = "ストリームからの読み込みエラー";
inline constexpr const char* kWriteErrorText = "ストリームへの書き込みエラー";

class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EReadError : public EStreamError {
public:
    EReadError() : EStreamError(kReadErrorText) {}
};
class EWriteError : public EStreamError {
public:
    EWriteError() : EStreamError(kWriteErrorText) {}
};

// Reads count bytes or raises EReadError (then the position is undefined).
void ReadBuffer(TStream& stream, void* buffer, std::int64_t count);
void WriteBuffer(TStream& stream, const void* buffer, std::int64_t count);
// Bytes between the position and the end (0 for sequential devices that cannot tell).
std::int64_t RemainingBytes(const TStream& stream);
