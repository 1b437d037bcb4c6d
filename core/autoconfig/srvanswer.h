#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One SRV record (RFC 2782) of a DNS answer; `target` without its final dot, empty for the
// root (".").
struct SrvRecord {
    uint16_t priority = 0;
    uint16_t weight = 0;
    uint16_t port = 0;
    std::string target;

    bool operator==(const SrvRecord&) const = default;
};

// Reads the SRV records from a raw DNS answer message (RFC 1035 4.1) as a resolver returns it.
//
// The message is untrusted: every length and compression pointer is checked against the
// bytes actually there, a name may follow at most kMaxPointers pointers and be at most 255
// bytes long, at most kMaxRecords records are read. Records of other types or classes are
// skipped. A name error (no such name) is a valid answer with no records.
//
// The records come back in the order a client tries them: lowest priority first, within a
// priority the highest weight first. A single record whose target is "." says the service is
// decidedly not offered (RFC 2782): no records. Records with port 0, or with a "." target
// among others, are dropped.
//
// Returns false, with *error in words, for a message that is not a well-formed answer.
// Thread-safe (no shared state).
class SrvAnswer
{
public:
    static constexpr int kMaxPointers = 16;
    static constexpr size_t kMaxRecords = 64;

    static bool Parse(const unsigned char* message, size_t length, std::vector<SrvRecord>* records,
                      std::string* error);
};
