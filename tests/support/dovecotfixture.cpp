#include "dovecotfixture.h"

#include "tempdir.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace
{

// Free ports chosen by the kernel: all four sockets are open at once so the ports differ;
// the tiny window before Dovecot binds them is covered by retrying Start.
bool PickPorts(int (&ports)[4])
{
    int fds[4] = {-1, -1, -1, -1};
    bool ok = true;
    for (int i = 0; i < 4 && ok; ++i) {
        fds[i] = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ok = fds[i] >= 0 && ::bind(fds[i], reinterpret_cast<sockaddr*>(&a), len) == 0 &&
             ::getsockname(fds[i], reinterpret_cast<sockaddr*>(&a), &len) == 0;
        ports[i] = ntohs(a.sin_port);
    }
    for (int fd : fds)
        if (fd >= 0)
            ::close(fd);
    return ok;
}

bool PortAnswers(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

std::string FindDovecot()
{
    for (const char* p : {"/usr/sbin/dovecot", "/usr/local/sbin/dovecot", "/sbin/dovecot"})
        if (::access(p, X_OK) == 0)
            return p;
    return {};
}

} // namespace

DovecotFixture::DovecotFixture() : dir_(std::make_unique<TempDir>())
{
    if (::geteuid() == 0) {
        // Dovecot refuses mail access as uid 0: run its processes as an unprivileged account.
        const passwd* pw = ::getpwnam("dovecot");
        if (pw == nullptr)
            pw = ::getpwnam("nobody");
        if (pw != nullptr) {
            mailUid_ = pw->pw_uid;
            mailGid_ = pw->pw_gid;
            mailUser_ = pw->pw_name;
        }
        // Those processes must reach their files inside our folder.
        ::chmod(dir_->Path().c_str(), 0755);
    } else {
        mailUid_ = ::getuid();
        mailGid_ = ::getgid();
        if (const passwd* pw = ::getpwuid(mailUid_))
            mailUser_ = pw->pw_name;
    }
    if (const group* gr = ::getgrgid(mailGid_))
        mailGroup_ = gr->gr_name;
    pki_ = std::make_unique<TestPki>(dir_->Path());
    caFile_ = pki_->CaFile();
}

DovecotFixture::~DovecotFixture()
{
    Stop();
}

const std::string& DovecotFixture::Dir() const
{
    return dir_->Path();
}

std::string DovecotFixture::LogText() const
{
    return ReadWholeFile(dir_->File("dovecot.log")) + ReadWholeFile(dir_->File("dovecot.out"));
}

std::string DovecotFixture::Maildir(const std::string& user) const
{
    return dir_->Path() + "/home/" + user + "/Maildir";
}

void DovecotFixture::Own(const std::string& path) const
{
    if (::geteuid() == 0 && ::chown(path.c_str(), mailUid_, mailGid_) != 0)
        return; // the session will report the permission problem itself
}

bool DovecotFixture::MakeUserDirs(const std::string& user)
{
    std::string home = dir_->Path() + "/home/" + user;
    std::error_code ec;
    for (const char* sub : {"", "/Maildir", "/Maildir/new", "/Maildir/cur", "/Maildir/tmp"}) {
        std::string p = home + sub;
        fs::create_directories(p, ec);
        if (ec)
            return false;
        Own(p);
    }
    Own(dir_->Path() + "/home");
    return true;
}

bool DovecotFixture::WriteConfig(const std::vector<User>& users)
{
    const std::string& d = dir_->Path();
    std::string passwd;
    for (const User& u : users) {
        if (!MakeUserDirs(u.name))
            return false;
        passwd += u.name + ":{PLAIN}" + u.password + ":" + std::to_string(mailUid_) + ":" +
                  std::to_string(mailGid_) + "::" + d + "/home/" + u.name + "::\n";
    }
    WriteWholeFile(d + "/passwd", passwd);

    TestPki::Cert cert = pki_->Issue("dovecot", TestPki::Localhost());
    if (cert.certFile.empty()) {
        error_ = "cannot make the server certificate";
        return false;
    }
    // Dovecot 2.3 wants one setting per line, also inside service blocks.
    std::string c;
    c += "base_dir = " + d + "/run\n";
    c += "state_dir = " + d + "/state\n";
    c += "log_path = " + d + "/dovecot.log\n";
    c += "instance_name = pwtest-" + fs::path(d).filename().string() + "\n";
    c += "protocols = pop3 imap\n";
    c += "listen = 127.0.0.1\n";
    c += "ssl = yes\n";
    c += "ssl_cert = <" + cert.certFile + "\n";
    c += "ssl_key = <" + cert.keyFile + "\n";
    c += std::string("auth_mechanisms = plain login") +
         (introspection_.empty() ? "" : " xoauth2 oauthbearer") + "\n";
    c += "disable_plaintext_auth = no\n";
    c += "default_internal_user = " + mailUser_ + "\n";
    c += "default_internal_group = " + mailGroup_ + "\n";
    c += "default_login_user = " + mailUser_ + "\n";
    c += "first_valid_uid = " + std::to_string(mailUid_) + "\n";
    c += "first_valid_gid = " + std::to_string(mailGid_) + "\n";
    c += "mail_location = maildir:~/Maildir\n";
    c += "mail_fsync = never\n";
    c += "pop3_uidl_format = %08Xu%08Xv\n";
    c += "pop3_no_flag_updates = yes\n";
    c += "mail_max_userip_connections = 1000\n";
    c += "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " + d +
         "/passwd\n}\n";
    if (!introspection_.empty()) {
        WriteWholeFile(d + "/oauth2.conf",
                       "introspection_mode = post\nintrospection_url = " + introspection_ +
                           "\nusername_attribute = username\n"
                           "active_attribute = active\nactive_value = true\n"
                           "force_introspection = yes\n");
        c += "passdb {\n  driver = oauth2\n  mechanisms = xoauth2 oauthbearer\n  args = " + d +
             "/oauth2.conf\n}\n";
    }
    c += "userdb {\n  driver = passwd-file\n  args = username_format=%u " + d + "/passwd\n}\n";
    c += "service anvil {\n  chroot =\n}\n";
    auto login = [&](const char* name, const char* plain, int plainPort, const char* tls,
                     int tlsPort) {
        // One long-lived login process serves every connection: no start-up cost per
        // session, and TLS sessions it issued can be resumed (its ticket key is its own).
        c += std::string("service ") + name +
             " {\n  chroot =\n  service_count = 0\n  process_min_avail = 1\n"
             "  process_limit = 1\n";
        c += std::string("  inet_listener ") + plain +
             " {\n    port = " + std::to_string(plainPort) + "\n  }\n";
        c += std::string("  inet_listener ") + tls + " {\n    port = " + std::to_string(tlsPort) +
             "\n    ssl = yes\n  }\n}\n";
    };
    login("pop3-login", "pop3", ports_[0], "pop3s", ports_[2]);
    login("imap-login", "imap", ports_[1], "imaps", ports_[3]);
    c += "service pop3 {\n  process_min_avail = 2\n}\n";
    c += "service imap {\n  process_min_avail = 2\n}\n";
    WriteWholeFile(d + "/dovecot.conf", c);
    return true;
}

bool DovecotFixture::Start(const std::vector<User>& users)
{
    if (Running())
        return true;
    if (!pki_->Ok()) {
        error_ = "cannot make the test CA";
        return false;
    }
    if (mailUser_.empty() || mailGroup_.empty()) {
        error_ = "no account to run Dovecot's processes as";
        return false;
    }
    std::string binary = FindDovecot();
    if (binary.empty()) {
        error_ = "dovecot is not installed (Debian: dovecot-core dovecot-pop3d dovecot-imapd)";
        return false;
    }
    users_ = users;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if ((!keepPorts_ && !PickPorts(ports_)) || !WriteConfig(users)) {
            if (error_.empty())
                error_ = "cannot prepare the Dovecot folder";
            return false;
        }
        std::string conf = dir_->File("dovecot.conf");
        std::string out = dir_->File("dovecot.out");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        char* argv[] = {binary.data(), const_cast<char*>("-F"), const_cast<char*>("-c"),
                        conf.data(), nullptr};
        // Dovecot leads a process group of its own, so Stop can reach every process of this
        // instance (and only those) by the group's id.
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
        int rc = posix_spawn(&pid_, binary.c_str(), &actions, &attr, argv, environ);
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            pid_ = -1;
            error_ = std::string("cannot start dovecot: ") + std::strerror(rc);
            return false;
        }
        if (WaitReady()) {
            error_.clear();
            return true;
        }
        Stop();
    }
    error_ += "\n" + LogText();
    return false;
}

bool DovecotFixture::Restart()
{
    Stop();
    keepPorts_ = true;
    const bool ok = Start(users_);
    keepPorts_ = false;
    return ok;
}

bool DovecotFixture::WaitReady()
{
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "dovecot exited at start";
            return false;
        }
        bool all = true;
        for (int port : ports_)
            all = all && PortAnswers(port);
        if (all)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error_ = "dovecot did not open its ports within 10 s";
    return false;
}

void DovecotFixture::Stop()
{
    if (pid_ <= 0)
        return;
    // The master waits for seconds on login processes that do not end at once on SIGTERM.
    // Nothing here is worth keeping (the folder goes next), so the instance's whole group
    // gets a short grace and then SIGKILL.
    ::kill(-pid_, SIGTERM);
    auto deadline = Clock::now() + std::chrono::milliseconds(300);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Children that outlived the master go too, so the folder can be removed.
    ::kill(-pid_, SIGKILL);
    pid_ = -1;
}

std::string DovecotFixture::Deliver(const std::string& user, const std::string& message, bool seen)
{
    std::string box = Maildir(user);
    if (!fs::is_directory(box + "/tmp") && !MakeUserDirs(user))
        return {};
    // Maildir delivery: write under tmp/, then rename into place, so Dovecot never sees half
    // a message.
    std::string name = std::to_string(++stamp_) + ".M" + std::to_string(++sequence_) + "P" +
                       std::to_string(::getpid()) + ".pwtest";
    std::string tmp = box + "/tmp/" + name;
    WriteWholeFile(tmp, message);
    Own(tmp);
    std::string target = seen ? box + "/cur/" + name + ":2,S" : box + "/new/" + name;
    std::error_code ec;
    fs::rename(tmp, target, ec);
    return ec ? std::string() : target;
}

bool DovecotFixture::ClearMailbox(const std::string& user)
{
    std::string box = Maildir(user);
    std::error_code ec;
    for (const char* sub : {"/new", "/cur", "/tmp"})
        for (const auto& entry : fs::directory_iterator(box + sub, ec))
            fs::remove(entry.path(), ec);
    // Dovecot's own index and UID list go too, so UIDs start again from 1.
    for (const auto& entry : fs::directory_iterator(box, ec))
        if (entry.path().filename().string().rfind("dovecot", 0) == 0)
            fs::remove_all(entry.path(), ec);
    return !ec;
}

bool DovecotFixture::Renumber(const std::string& user)
{
    // The UID list and the indexes go; dovecot-uidvalidity stays, so the value Dovecot picks
    // next is above the last one it gave out.
    const std::string box = Maildir(user);
    std::error_code ec;
    std::vector<fs::path> gone;
    for (const auto& entry : fs::directory_iterator(box, ec)) {
        const std::string name = entry.path().filename().string();
        if (name == "dovecot-uidlist" || name.rfind("dovecot.index", 0) == 0 ||
            name.rfind("dovecot.list.index", 0) == 0)
            gone.push_back(entry.path());
    }
    if (ec)
        return false;
    for (const fs::path& p : gone)
        if (!fs::remove(p, ec) || ec)
            return false;
    return true;
}

std::string DovecotFixture::ImapSession(const std::string& user,
                                        const std::vector<std::string>& commands)
{
    std::string password;
    for (const User& u : users_)
        if (u.name == user)
            password = u.password;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(ImapPort()));
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (fd >= 0)
            ::close(fd);
        return {};
    }
    std::string said;
    // Reads until the whole line tagged `tag` has come (no tag: the greeting's line).
    auto readUntil = [&](const std::string& tag) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        for (;;) {
            const std::size_t at = tag.empty() ? 0 : said.find("\r\n" + tag + " ");
            if (at != std::string::npos && said.find("\r\n", at + 2) != std::string::npos)
                return true;
            if (Clock::now() > deadline)
                return false;
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 1000) < 0)
                return false;
            char buffer[4096];
            const ssize_t n =
                (p.revents & (POLLIN | POLLHUP)) ? ::recv(fd, buffer, sizeof buffer, 0) : 0;
            if (n < 0 || ((p.revents & (POLLIN | POLLHUP)) && n == 0))
                return false;
            said.append(buffer, static_cast<std::size_t>(n));
        }
    };
    std::vector<std::string> all{"LOGIN \"" + user + "\" \"" + password + "\"", "SELECT INBOX"};
    all.insert(all.end(), commands.begin(), commands.end());
    all.push_back("LOGOUT");
    bool ok = readUntil("");
    for (std::size_t i = 0; ok && i < all.size(); ++i) {
        const std::string tag = "T" + std::to_string(i + 1);
        const std::string line = tag + " " + all[i] + "\r\n";
        ok = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) ==
                 static_cast<ssize_t>(line.size()) &&
             readUntil(tag);
    }
    ::close(fd);
    return ok ? said : std::string();
}
