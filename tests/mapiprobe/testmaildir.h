#pragma once

#include "mapiprobe/maildirfixture.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

// A real Maildir with Maildir++ subfolders in a temporary folder, and mail put into it the way
// a delivery agent does (maildirfixture.h), or the way a mail client moves it.
class TestMaildir
{
public:
    explicit TestMaildir(std::string root) : root_(std::move(root)) { MakeFolder(""); }

    const std::string& Root() const { return root_; }

    // "" is the Inbox; ".Lists" a Maildir++ subfolder.
    void MakeFolder(const std::string& folder)
    {
        MakeMaildir(Path(folder));
        if (!folder.empty())
            std::ofstream(Path(folder) + "/maildirfolder");
    }

    static std::string Message(const std::string& subject, const std::string& body = "Hello there")
    {
        return "From: Ann Example <ann@example.org>\r\n"
               "To: me@example.org\r\n"
               "Subject: " +
               subject +
               "\r\n"
               "Date: Mon, 07 Dec 2026 12:00:00 +0000\r\n"
               "Message-ID: <" +
               subject +
               "@example.org>\r\n"
               "\r\n" +
               body + "\r\n";
    }

    // A unique name as delivery agents make them: "<seconds>.<unique>.<host>".
    std::string NextName() { return "1796644800.M" + std::to_string(++serial_) + "P4242.testhost"; }

    // Delivers into new/ through tmp/; returns the unique name (the entry id).
    std::string Deliver(const std::string& folder, const std::string& content)
    {
        const std::string name = NextName();
        DeliverByProtocol(Path(folder), name, content);
        return name;
    }

    // Puts a message straight into cur/ with the given flags ("S": seen).
    std::string Place(const std::string& folder, const std::string& content,
                      const std::string& flags)
    {
        const std::string name = NextName();
        std::ofstream(Path(folder) + "/cur/" + name + ":2," + flags, std::ios::binary) << content;
        return name;
    }

    // What a mail client does when the user reads a new message: into cur/ with "S".
    void MarkSeen(const std::string& folder, const std::string& name)
    {
        std::filesystem::rename(Path(folder) + "/new/" + name,
                                Path(folder) + "/cur/" + name + ":2,S");
    }

    std::string Path(const std::string& folder) const
    {
        return folder.empty() ? root_ : root_ + "/" + folder;
    }

private:
    std::string root_;
    std::atomic<int> serial_{0};
};
