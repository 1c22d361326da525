#include "protocol/bytes.h"

#include <iomanip>

namespace tolvan {

ByteVectorBody::ByteVectorBody(std::int32_t n)
    : length(n), bytes(new unsigned char[static_cast<std::size_t>(n > 0 ? n : 0) + (n > 0 ? 0 : 1)])
{
}

CountedHandle::CountedHandle(CountedBody* b) : body(b)
{
    if (body)
        ++body->refCount;
}

CountedHandle::CountedHandle(const CountedHandle& other) : CountedHandle(other.body) {}

CountedHandle& CountedHandle::operator=(const CountedHandle& other)
{
    assign(other.body);
    return *this;
}

CountedHandle::~CountedHandle()
{
    if (body && --body->refCount <= 0)
        delete body;
}

void CountedHandle::assign(CountedBody* newBody)
{
    CountedBody* old = body;
    body = newBody;
    if (body)
        ++body->refCount;
    if (old && --old->refCount <= 0)
        delete old;
}

std::int32_t CountedHandle::useCount() const { return body ? body->refCount : 0; }

int ProtocolMessage::size() { return vectorBody()->length; }
unsigned char* ProtocolMessage::data() { return vectorBody()->bytes.get(); }

void packBigEndian(std::int32_t value, unsigned char* dest, int n)
{
    for (int i = n - 1; i >= 0; --i) {
        dest[i] = static_cast<unsigned char>(value & 0xFF);
        value >>= 8;  // arithmetic: bytes beyond the fourth repeat the sign
    }
}

void packLittleEndian(std::int32_t value, unsigned char* dest, int n)
{
    for (int i = 0; i < n; ++i) {
        dest[i] = static_cast<unsigned char>(value & 0xFF);
        value >>= 8;
    }
}

std::uint32_t unpackBigEndian(const unsigned char* src, int n)
{
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | src[i];
    return v;
}

std::uint32_t unpackLittleEndian(const unsigned char* src, int n)
{
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | src[i];
    return v;
}

void hexDump(std::ostream& stream, const unsigned char* bytes, int n)
{
    stream << std::setfill('0') << std::hex;
    for (int i = 0; i < n; ++i) {
        stream << std::setw(2) << static_cast<unsigned>(bytes[i]) << ' ';
        if (i % 16 == 15 || i == n - 1)
            stream << '\n';
    }
    if (n == 0)
        stream << '\n';
    stream << std::setfill(' ') << std::dec;
}

}  // namespace tolvan
