// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TStream.h"

#include <algorithm>

void ReadBuffer(TStream& stream, void* buffer, std::int64_t count)
{
    if (count < 0)
        throw EReadError();
    if (count == 0)
        return;
    if (stream.read(static_cast<char*>(buffer), count) != count)
        throw EReadError();
}

void WriteBuffer(TStream& stream, const void* buffer, std::int64_t count)
{
    if (count < 0)
        throw EWriteError();
    if (count == 0)
        return;
    if (stream.write(static_cast<const char*>(buffer), count) != count)
        throw EWriteError();
}

std::int64_t RemainingBytes(const TStream& stream)
{
    if (stream.isSequential())
        return stream.bytesAvailable();
    return std::max<std::int64_t>(0, stream.size() - stream.pos());
}
