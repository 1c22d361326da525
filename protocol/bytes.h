#pragma once
// Reference-counted byte bodies shared by copies of a message, the byte
// sequence interface of a message, and integer packing helpers.

#include <cstdint>
#include <ostream>

#include "protocol/timing.h"

namespace tolvan {

class CommunicationInterface;

// Owns a heap byte array; never copied.
template <typename T>
class AutoArray {
public:
    explicit AutoArray(T* p = nullptr) : ptr(p) {}
    ~AutoArray() { delete[] ptr; }
    AutoArray(const AutoArray&) = delete;
    AutoArray& operator=(const AutoArray&) = delete;
    T* get() const { return ptr; }
    operator T*() const { return ptr; }

    T* ptr;
};

class CountedBody {
public:
    virtual ~CountedBody() = default;
    std::int32_t refCount = 0;
};

class ByteVectorBody : public CountedBody {
public:
    explicit ByteVectorBody(std::int32_t n);
    const std::int32_t length;
    AutoArray<unsigned char> bytes;
};

class CountedHandle {
public:
    explicit CountedHandle(CountedBody* b = nullptr);
    CountedHandle(const CountedHandle& other);
    CountedHandle& operator=(const CountedHandle& other);
    ~CountedHandle();
    void assign(CountedBody* newBody);
    std::int32_t useCount() const;

    CountedBody* body;
};

class ByteSequence {
public:
    virtual int size() = 0;
    virtual unsigned char* data() = 0;
    virtual ~ByteSequence() = default;
};

// A message whose bytes are a shared ByteVectorBody; copies share the body.
class ProtocolMessage : public ByteSequence, public CountedHandle {
public:
    explicit ProtocolMessage(ByteVectorBody* b) : CountedHandle(b) {}
    ProtocolMessage(const ProtocolMessage&) = default;
    ProtocolMessage& operator=(const ProtocolMessage&) = default;
    int size() override;
    unsigned char* data() override;
    ~ProtocolMessage() override = default;
    virtual void sendOnce(CommunicationInterface& port) = 0;
    virtual void send(CommunicationInterface& port) = 0;

protected:
    ByteVectorBody* vectorBody() const { return static_cast<ByteVectorBody*>(body); }
};

void packBigEndian(std::int32_t value, unsigned char* dest, int n);
void packLittleEndian(std::int32_t value, unsigned char* dest, int n);
std::uint32_t unpackBigEndian(const unsigned char* src, int n);
std::uint32_t unpackLittleEndian(const unsigned char* src, int n);
inline unsigned joinBytes(unsigned high, unsigned low) { return (high << 8) | low; }
void hexDump(std::ostream& stream, const unsigned char* bytes, int n);

}  // namespace tolvan
