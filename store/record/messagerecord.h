#pragma once

#include <string>

// One new POP3/IMAP4 message as the protocol clients deliver it to the merge.
// The field order is the record layout (slots 0..9) shared with the front ends.
struct MessageRecord {
    std::string sender;     // 0: display form of From
    std::string subject;    // 1: decoded subject
    std::string date;       // 2: display form of the date
    std::string size;       // 3: size text
    std::string preview;    // 4: first part of the body text, decoded
    std::string attachment; // 5: "Yes" or "No"
    std::string uid;        // 6: the server's unique identifier
    std::string account;    // 7: the account name
    std::string reserved8;  // 8: unused, empty
    std::string reserved9;  // 9: unused, empty
};

// One stored message of Message.box (twelve texts, in field order 0..11).
struct StoredMessage {
    std::string messageId;  // 0: UUID text, 36 characters
    std::string mailType;   // 1: "POP3", "IMAP4", "Portalpost", "Exchange(MAPI)"
    std::string read;       // 2: "No" or "Yes"
    std::string sender;     // 3
    std::string subject;    // 4
    std::string date;       // 5
    std::string size;       // 6
    std::string preview;    // 7 (kept enciphered on disk)
    std::string attachment; // 8
    std::string uid;        // 9
    std::string folder;     // 10 (Exchange only)
    std::string store;      // 11 (Exchange only)
};
