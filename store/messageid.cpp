#include "messageid.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <sys/random.h>
#include <unistd.h>

namespace
{

bool RandomBytes(unsigned char* out, size_t n)
{
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::getrandom(out + got, n - got, 0);
        if (r < 0)
            return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

std::string Format(const unsigned char b[16])
{
    static const char hex[] = "0123456789abcdef";
    std::string s;
    s.reserve(36);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            s += '-';
        s += hex[b[i] >> 4];
        s += hex[b[i] & 15];
    }
    return s;
}

} // namespace

std::string MessageId()
{
    unsigned char b[16];
    if (!RandomBytes(b, sizeof b)) {
        std::ifstream in("/proc/sys/kernel/random/uuid");
        std::string line;
        if (std::getline(in, line) && line.size() == 36)
            return line;
        // No random source at all: distinct within the process and unlikely to repeat
        // across runs, which is all a record name needs.
        static std::atomic<uint64_t> counter{0};
        uint64_t a =
            static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
        uint64_t c = counter.fetch_add(1) ^ (static_cast<uint64_t>(::getpid()) << 40);
        for (int i = 0; i < 8; ++i) {
            b[i] = static_cast<unsigned char>(a >> (8 * i));
            b[8 + i] = static_cast<unsigned char>(c >> (8 * i));
        }
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40); // version 4 (RFC 4122 4.4)
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80); // variant 10xx
    return Format(b);
}
