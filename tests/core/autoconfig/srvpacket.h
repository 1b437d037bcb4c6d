#pragma once

#include "srvanswer.h"

#include <string>
#include <vector>

// Builds DNS answer messages with SRV records for the tests and the fuzz corpus: one question
// (`name`, SRV, IN), each answer's owner a compression pointer to the question's name.
namespace srvpacket
{

inline void Put16(std::vector<unsigned char>& out, unsigned value)
{
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value));
}

inline void PutName(std::vector<unsigned char>& out, const std::string& name)
{
    size_t start = 0;
    while (start < name.size()) {
        size_t end = name.find('.', start);
        if (end == std::string::npos)
            end = name.size();
        out.push_back(static_cast<unsigned char>(end - start));
        out.insert(out.end(), name.begin() + static_cast<long>(start),
                   name.begin() + static_cast<long>(end));
        start = end + 1;
    }
    out.push_back(0);
}

inline std::vector<unsigned char> Answer(const std::string& name,
                                         const std::vector<SrvRecord>& records, unsigned rcode = 0)
{
    std::vector<unsigned char> out;
    Put16(out, 0x1234);
    Put16(out, 0x8180 | rcode);
    Put16(out, 1);
    Put16(out, static_cast<unsigned>(records.size()));
    Put16(out, 0);
    Put16(out, 0);
    PutName(out, name);
    Put16(out, 33);
    Put16(out, 1);
    for (const SrvRecord& r : records) {
        Put16(out, 0xC00C);
        Put16(out, 33);
        Put16(out, 1);
        Put16(out, 0);
        Put16(out, 300);
        std::vector<unsigned char> target;
        PutName(target, r.target);
        Put16(out, static_cast<unsigned>(6 + target.size()));
        Put16(out, r.priority);
        Put16(out, r.weight);
        Put16(out, r.port);
        out.insert(out.end(), target.begin(), target.end());
    }
    return out;
}

} // namespace srvpacket
