#pragma once
// SBEP frame layout: header byte (opcode nibble or 0xF + extended opcode,
// size nibble or 0xF + two-byte size), data, checksum. Sizes count data + checksum.

namespace tolvan {

// Opcodes on the line.
enum SbepOpcode : int {
    kOpAck = 5,
    kOpNak = 6,
    kOpReset = 0x10,
    kOpMemoryRead = 0x11,
    kOpMemoryWrite = 0x17,
    kOpSerialWrite = 0x18,
    kOpKey = 0x19,
    kOpAutoTune = 0x1F,
    kOpSoftpot = 0x20,
    kOpChannel = 0x21,
    kOpTestMode = 0x22,
    kOpQuery = 0x23,
    kOpMemoryReadReply = 0x80,
    kOpWriteReply = 0x84,
    kOpWriteFailed = 0x85,
    kOpUnsupported = 0x86,
    kOpSoftpotReply = 0x8A,
};

int dataOffset(int opcode, int n);
int frameLength(int opcode, int n);
int writeHeader(unsigned char* buffer, int opcode, int n);
int buildFrame(unsigned char* buffer, int opcode, const unsigned char* data, int n);
int frameDataLength(const unsigned char* frame);
int frameDataOffset(const unsigned char* frame);
int frameTotalLength(const unsigned char* frame);
unsigned char byteSum(const unsigned char* bytes, int k);
unsigned char checksum(const unsigned char* frame);
bool hasValidChecksum(const unsigned char* frame);
// Whether the frame carries a checksum byte (a non-zero size nibble or an extended opcode).
bool frameHasChecksum(const unsigned char* frame);
// The opcode of a received frame: the high nibble, or the next byte after 0xF.
int frameOpcode(const unsigned char* frame);

// How many header bytes are needed before frameTotalLength can be computed
// (1, 2, 3 or 4); lets readers of partial input know when to look.
int frameHeaderLength(const unsigned char* frame, int available);

}  // namespace tolvan
