#include "srvanswer.h"

#include <algorithm>

namespace
{

constexpr uint16_t kTypeSrv = 33;
constexpr uint16_t kClassIn = 1;
constexpr size_t kHeaderBytes = 12;

class Reader
{
public:
    Reader(const unsigned char* data, size_t length) : data_(data), length_(length) {}

    bool U16(size_t at, uint16_t* value) const
    {
        if (at > length_ || length_ - at < 2)
            return false;
        *value = static_cast<uint16_t>(data_[at] << 8 | data_[at + 1]);
        return true;
    }

    // Reads the name at `at` into *name (dotted, no final dot; "" for the root) and sets
    // *next to the first byte after it in the message (after the first pointer, if any).
    bool Name(size_t at, std::string* name, size_t* next) const
    {
        name->clear();
        size_t total = 0;
        int pointers = 0;
        bool jumped = false;
        while (true) {
            if (at >= length_)
                return false;
            const unsigned char len = data_[at];
            if ((len & 0xC0) == 0xC0) {
                if (at + 1 >= length_ || ++pointers > SrvAnswer::kMaxPointers)
                    return false;
                if (!jumped)
                    *next = at + 2;
                jumped = true;
                at = static_cast<size_t>(len & 0x3F) << 8 | data_[at + 1];
                continue;
            }
            if ((len & 0xC0) != 0) // the reserved label types 01 and 10
                return false;
            if (len == 0) {
                if (!jumped)
                    *next = at + 1;
                return true;
            }
            total += len + 1u;
            if (total > 255 || at + 1 + len > length_)
                return false;
            if (!name->empty())
                *name += '.';
            name->append(reinterpret_cast<const char*>(data_ + at + 1), len);
            at += 1 + len;
        }
    }

private:
    const unsigned char* data_;
    size_t length_;
};

} // namespace

bool SrvAnswer::Parse(const unsigned char* message, size_t length, std::vector<SrvRecord>* records,
                      std::string* error)
{
    records->clear();
    const Reader reader(message, length);
    uint16_t flags = 0, questions = 0, answers = 0;
    if (length < kHeaderBytes || !reader.U16(2, &flags) || !reader.U16(4, &questions) ||
        !reader.U16(6, &answers)) {
        *error = "the DNS answer is shorter than its header";
        return false;
    }
    if ((flags & 0x8000) == 0) {
        *error = "the DNS message is not an answer";
        return false;
    }
    const int rcode = flags & 0x000F;
    if (rcode == 3) // name error: the service is not published
        return true;
    if (rcode != 0) {
        *error = "the DNS server answered with error " + std::to_string(rcode);
        return false;
    }
    size_t at = kHeaderBytes;
    std::string name;
    for (uint16_t q = 0; q < questions; ++q) {
        if (!reader.Name(at, &name, &at) || at > length || length - at < 4) {
            *error = "the DNS answer's question is cut short";
            return false;
        }
        at += 4;
    }
    std::vector<SrvRecord> found;
    for (uint16_t a = 0; a < answers && found.size() < kMaxRecords; ++a) {
        uint16_t type = 0, rclass = 0, rdlength = 0;
        if (!reader.Name(at, &name, &at) || !reader.U16(at, &type) ||
            !reader.U16(at + 2, &rclass) || !reader.U16(at + 8, &rdlength) ||
            length - (at + 10) < rdlength) {
            *error = "a DNS record is cut short";
            return false;
        }
        const size_t rdata = at + 10;
        at = rdata + rdlength;
        if (type != kTypeSrv || rclass != kClassIn)
            continue;
        SrvRecord record;
        size_t end = 0;
        // The target must lie within the record's own data (its pointers may go anywhere).
        if (rdlength < 7 || !reader.U16(rdata, &record.priority) ||
            !reader.U16(rdata + 2, &record.weight) || !reader.U16(rdata + 4, &record.port) ||
            !reader.Name(rdata + 6, &record.target, &end) || end > at) {
            *error = "an SRV record is malformed";
            return false;
        }
        found.push_back(std::move(record));
    }
    if (found.size() == 1 && found[0].target.empty())
        return true;
    std::erase_if(found, [](const SrvRecord& r) { return r.target.empty() || r.port == 0; });
    std::stable_sort(found.begin(), found.end(), [](const SrvRecord& x, const SrvRecord& y) {
        return x.priority != y.priority ? x.priority < y.priority : x.weight > y.weight;
    });
    *records = std::move(found);
    return true;
}
