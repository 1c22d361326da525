#include "protocol/sbep_frame.h"

#include <cstring>

namespace tolvan {

int dataOffset(int opcode, int n)
{
    const bool extended = opcode > 14;
    if (n >= 14)
        return extended ? 4 : 3;
    if (extended || n > 0)
        return extended ? 2 : 1;
    return 0;
}

int frameLength(int opcode, int n) { return n + dataOffset(opcode, n) + 1; }

int writeHeader(unsigned char* buffer, int opcode, int n)
{
    const bool extended = opcode > 14;
    const bool bigSize = n >= 14;
    int sizeNibble = 0;
    if (bigSize)
        sizeNibble = 0xF;
    else if (extended || n > 0)
        sizeNibble = n + 1;
    int pos = 0;
    buffer[pos++] = static_cast<unsigned char>(((extended ? 0xF : opcode) << 4) | sizeNibble);
    if (extended)
        buffer[pos++] = static_cast<unsigned char>(opcode);
    if (bigSize) {
        const int size = n + 1;
        buffer[pos++] = static_cast<unsigned char>((size >> 8) & 0xFF);
        buffer[pos++] = static_cast<unsigned char>(size & 0xFF);
    }
    return pos;
}

int buildFrame(unsigned char* buffer, int opcode, const unsigned char* data, int n)
{
    int pos = writeHeader(buffer, opcode, n);
    if (n > 0)
        std::memcpy(buffer + pos, data, static_cast<std::size_t>(n));
    pos += n;
    if (opcode > 14 || n > 0) {
        buffer[pos] = static_cast<unsigned char>(0xFF - byteSum(buffer, pos));
        ++pos;
    }
    return pos;
}

int frameDataLength(const unsigned char* frame)
{
    const int low = frame[0] & 0x0F;
    if (low == 0)
        return 0;
    if (low == 0xF) {
        const unsigned char* size = frame + (((frame[0] >> 4) == 0xF) ? 2 : 1);
        // A two-byte size of 0 counts like the size nibble 0: no data.
        const int field = (size[0] << 8) | size[1];
        return field > 0 ? field - 1 : 0;
    }
    return low - 1;
}

int frameDataOffset(const unsigned char* frame)
{
    const int high = frame[0] >> 4;
    return dataOffset(high, frameDataLength(frame));
}

int frameTotalLength(const unsigned char* frame) { return frameDataLength(frame) + frameDataOffset(frame) + 1; }

unsigned char byteSum(const unsigned char* bytes, int k)
{
    unsigned sum = 0;
    for (int i = 0; i < k; ++i)
        sum += bytes[i];
    return static_cast<unsigned char>(sum & 0xFF);
}

unsigned char checksum(const unsigned char* frame)
{
    return static_cast<unsigned char>(0xFF - byteSum(frame, frameDataLength(frame) + frameDataOffset(frame)));
}

bool frameHasChecksum(const unsigned char* frame) { return frame[0] >= 0xF0 || (frame[0] & 0x0F) != 0; }

bool hasValidChecksum(const unsigned char* frame)
{
    if (!frameHasChecksum(frame))
        return true;
    return frame[frameTotalLength(frame) - 1] == checksum(frame);
}

int frameOpcode(const unsigned char* frame) { return (frame[0] >> 4) <= 14 ? (frame[0] >> 4) : frame[1]; }

int frameHeaderLength(const unsigned char* frame, int available)
{
    if (available < 1)
        return 1;
    const bool extended = (frame[0] >> 4) == 0xF;
    const bool bigSize = (frame[0] & 0x0F) == 0xF;
    return 1 + (extended ? 1 : 0) + (bigSize ? 2 : 0);
}

}  // namespace tolvan
