#include "registrykey.h"

#include "apppaths.h"
#include "iniobjectvalue.h"
#include "registryname.h"

#include <QFile>
#include <QMap>
#include <QPoint>
#include <QRect>
#include <QSettings>
#include <QSize>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace
{

// A group exists in the file only through what it holds, so a key that holds no value and
// no subkey carries a value of this name, and only such a key (PlaceMarkers): a user reading
// the file sees real settings. Escaped names only carry '%' before "25", "2F" or "5C", so no
// user name can collide with it.
const QString kKeyMarker = QStringLiteral("%key");
const char kFileSuffix[] = ".conf";

std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string RootDir(RegistryRoot root)
{
    if (root == RegistryRoot::CurrentUser) {
        std::string dir = Env("XDG_CONFIG_HOME");
        if (dir.empty()) {
            std::string home = Env("HOME");
            dir = (home.empty() ? std::string("/tmp") : home) + "/.config";
        }
        return dir;
    }
    std::string dirs = Env("XDG_CONFIG_DIRS");
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        if (end > start)
            return dirs.substr(start, end - start);
        start = end + 1;
    }
    return "/etc/xdg";
}

QString QPath(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

bool IsDir(const std::string& path)
{
    struct stat st {
    };
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path)
{
    struct stat st {
    };
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The entries of `dir` that are folders (wantDir) or files ending in `suffix`, as stored names
// without the suffix.
std::vector<std::string> ListEntries(const std::string& dir, bool wantDir,
                                     const std::string& suffix)
{
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return names;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        std::string full = dir + "/" + name;
        if (wantDir ? !IsDir(full) : !IsFile(full))
            continue;
        if (!suffix.empty()) {
            if (name.size() <= suffix.size() ||
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
                continue;
            name.resize(name.size() - suffix.size());
        }
        names.push_back(name);
    }
    ::closedir(d);
    return names;
}

// Picks the stored name that matches `raw`; an exact match wins over one differing in case.
std::optional<QString> Match(const QStringList& stored, const std::string& raw)
{
    std::optional<QString> found;
    for (const QString& s : stored) {
        std::string name = RegistryName::Unescape(s.toStdString());
        if (name == raw)
            return s;
        if (!found && RegistryName::Equal(name, raw))
            found = s;
    }
    return found;
}

std::optional<std::string> MatchEntry(const std::vector<std::string>& stored,
                                      const std::string& raw)
{
    QStringList list;
    for (const auto& s : stored)
        list << QString::fromStdString(s);
    auto m = Match(list, raw);
    if (!m)
        return std::nullopt;
    return m->toStdString();
}

QString Join(const QString& group, const QString& name)
{
    return group.isEmpty() ? name : group + QLatin1Char('/') + name;
}

// Serialises writers of one company folder across threads and processes: the name lookup
// and the write must be one step, or two writers differing only in case would add two values.
// flock() belongs to the open file description, so two threads of one process exclude each
// other as two processes do.
class FolderLock
{
public:
    explicit FolderLock(const std::string& dir) : fd_(::open(dir.c_str(), O_RDONLY | O_DIRECTORY))
    {
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock()
    {
        if (fd_ >= 0)
            ::close(fd_); // releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_;
};

// Settings files hold mail-client commands and account names; keep them private. QSettings
// rewrites through a temporary file that copies the permissions of the existing file, so a
// file made 0600 here stays 0600.
int EnsurePrivateFile(const std::string& path)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

// 0, or EBADMSG when the file holds a value that QSettings would turn into an object as it
// parses the file (IniHoldsObjectValue): some of those abort the program, so such a file is
// neither parsed nor written, and every key in it fails until the value is mended. A file
// that cannot be read is left to QSettings, which reports that itself.
int ParseableError(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return 0;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return IniHoldsObjectValue(bytes) ? EBADMSG : 0;
}

int StatusError(const QSettings& s)
{
    switch (s.status()) {
    case QSettings::NoError:
        return 0;
    case QSettings::AccessError:
        return EACCES;
    case QSettings::FormatError:
        return EIO;
    }
    return EIO;
}

// QSettings keeps a change whose save failed in the copy of the file that it shares across the
// process: reads would go on showing it, and the next save for that file, by any object, would
// write it after all. So every change goes through this, which first takes what the key and
// everything under it hold, and a failed save puts that back in the shared copy. The file itself
// was never touched: the save writes a temporary file and renames it only when it is complete.
class SaveGuard
{
public:
    explicit SaveGuard(QSettings& s) : s_(s) {}

    void Set(const QString& key, const QVariant& value)
    {
        Remember(key);
        s_.setValue(key, value);
    }
    // A value, or a group with everything under it; the empty key is the whole file.
    void Remove(const QString& key)
    {
        Remember(key);
        s_.remove(key);
    }

    // Saves; 0 or an errno, and on failure the shared copy holds the old values again.
    int Save()
    {
        s_.sync();
        int err = StatusError(s_);
        if (err) {
            for (auto it = before_.cbegin(); it != before_.cend(); ++it)
                if (!it.value())
                    s_.remove(it.key());
            for (auto it = before_.cbegin(); it != before_.cend(); ++it)
                if (it.value())
                    s_.setValue(it.key(), *it.value());
        }
        return err;
    }

private:
    void Remember(const QString& key)
    {
        if (!key.isEmpty())
            Keep(key);
        s_.beginGroup(key);
        const QStringList children = s_.allKeys();
        s_.endGroup();
        for (const QString& child : children)
            Keep(Join(key, child));
    }
    void Keep(const QString& key)
    {
        if (!before_.contains(key))
            before_.insert(key, s_.contains(key) ? std::optional<QVariant>(s_.value(key))
                                                 : std::nullopt);
    }

    QSettings& s_;
    QMap<QString, std::optional<QVariant>> before_; // nullopt: the key did not exist
};

QString ParentGroup(const QString& group)
{
    const qsizetype slash = group.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : group.left(slash);
}

// Keeps a key marker exactly where a key would otherwise be lost: drops every marker of a
// group that holds anything else (files written before carried one in every group), and
// gives `emptied` (a group that may have lost its last value or subkey; empty: none) one
// when it now holds nothing. The file's own key needs none: the file is the key.
void PlaceMarkers(QSettings& s, SaveGuard& guard, const QString& emptied)
{
    QStringList keys = s.allKeys();
    std::sort(keys.begin(), keys.end());
    const QString suffix = QLatin1Char('/') + kKeyMarker;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        if (!keys[i].endsWith(suffix))
            continue;
        // Sorted, a group's keys are neighbours: another one sits next to its marker.
        const QString prefix = keys[i].left(keys[i].size() - kKeyMarker.size());
        const bool holdsMore = (i > 0 && keys[i - 1].startsWith(prefix)) ||
                               (i + 1 < keys.size() && keys[i + 1].startsWith(prefix));
        if (holdsMore)
            guard.Remove(keys[i]);
    }
    if (emptied.isEmpty())
        return;
    s.beginGroup(emptied);
    const bool empty = s.allKeys().isEmpty();
    s.endGroup();
    if (empty)
        guard.Set(Join(emptied, kKeyMarker), QString());
}

std::string VariantText(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::QByteArray:
        return v.toByteArray().toStdString();
    case QMetaType::QStringList:
        return v.toStringList().join(QLatin1Char(',')).toUtf8().toStdString();
    case QMetaType::QVariantList: {
        // A comma list with a "@..." element: each element as the text it stands for.
        std::string text;
        for (const QVariant& element : v.toList())
            text += (text.empty() ? "" : ",") + VariantText(element);
        return text;
    }
    // A hand-written "@Rect(1 2 3 4)" reads as the text it was, not as nothing, so a save
    // of its group keeps it.
    case QMetaType::QRect: {
        const QRect r = v.toRect();
        return "@Rect(" + std::to_string(r.x()) + " " + std::to_string(r.y()) + " " +
               std::to_string(r.width()) + " " + std::to_string(r.height()) + ")";
    }
    case QMetaType::QSize: {
        const QSize size = v.toSize();
        return "@Size(" + std::to_string(size.width()) + " " + std::to_string(size.height()) + ")";
    }
    case QMetaType::QPoint: {
        const QPoint p = v.toPoint();
        return "@Point(" + std::to_string(p.x()) + " " + std::to_string(p.y()) + ")";
    }
    default:
        return v.toString().toUtf8().toStdString();
    }
}

// Text that is not UTF-8 (a file name in another encoding) is kept as raw bytes so that it
// reads back byte for byte.
QVariant TextVariant(const std::string& text)
{
    QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    QByteArray back = s.toUtf8();
    if (back.size() == static_cast<qsizetype>(text.size()) &&
        std::equal(text.begin(), text.end(), back.begin()))
        return s;
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

// Cuts to at most `max` bytes without splitting a UTF-8 sequence; bytes that are not UTF-8
// are cut where they fall.
void CutUtf8(std::string& text, size_t max)
{
    if (text.size() <= max)
        return;
    auto continuation = [&](size_t i) {
        return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
    };
    size_t cut = max;
    while (cut > 0 && max - cut < 3 && continuation(cut))
        --cut;
    text.resize(continuation(cut) ? max : cut);
}

bool ParseDword(const std::string& text, uint32_t& value)
{
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFull)
        return false;
    value = static_cast<uint32_t>(v);
    return true;
}

int ParsePath(const std::string& subkey, std::vector<std::string>& parts)
{
    parts.clear();
    size_t start = 0;
    while (true) {
        size_t end = subkey.find('\\', start);
        std::string part =
            subkey.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty())
            return EINVAL;
        parts.push_back(RegistryName::Unescape(part));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    if (!RegistryName::Equal(parts[0], "Software"))
        return EINVAL;
    // The company and application words name a folder and a file.
    for (size_t i = 1; i < parts.size() && i < 3; ++i)
        if (parts[i] == "." || parts[i] == "..")
            return EINVAL;
    return 0;
}

} // namespace

struct CRegistryKey::Impl {
    RegistryRoot root = RegistryRoot::CurrentUser;
    size_t depth = 0; // 1 "Software", 2 company folder, 3 settings file, more: a group in it
    std::string rootDir;
    std::string companyDir;
    std::string file;
    QString group; // stored group path inside the file; empty for the file's own key

    // Finds the key named by `parts`; with `create`, makes every missing part. 0 or an errno.
    int Locate(RegistryRoot r, const std::vector<std::string>& parts, bool create);
    // The stored name of value `name` in this key, if present.
    std::optional<QString> FindValue(QSettings& s, const std::string& name) const;
    int WriteValue(const std::string& name, const QVariant& v);
};

int CRegistryKey::Impl::Locate(RegistryRoot r, const std::vector<std::string>& parts, bool create)
{
    root = r;
    depth = parts.size();
    rootDir = RootDir(r);
    companyDir.clear();
    file.clear();
    group.clear();
    if (create && !AppPaths::MakeDirs(rootDir))
        return EACCES;
    if (depth == 1)
        return 0;

    auto company = MatchEntry(ListEntries(rootDir, true, ""), parts[1]);
    if (!company) {
        if (!create)
            return ENOENT;
        company = RegistryName::Escape(parts[1]);
        if (::mkdir((rootDir + "/" + *company).c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
    }
    companyDir = rootDir + "/" + *company;
    if (depth == 2)
        return 0;

    auto app = MatchEntry(ListEntries(companyDir, false, kFileSuffix), parts[2]);
    if (!app) {
        if (!create)
            return ENOENT;
        app = RegistryName::Escape(parts[2]);
    }
    file = companyDir + "/" + *app + kFileSuffix;
    if (create && !IsFile(file)) {
        if (int err = EnsurePrivateFile(file))
            return err;
    }
    if (depth == 3)
        return 0;

    std::optional<FolderLock> lock;
    if (create)
        lock.emplace(companyDir);
    if (int err = ParseableError(file))
        return err;
    QSettings s(QPath(file), QSettings::IniFormat);
    s.sync();
    size_t i = 3;
    for (; i < parts.size(); ++i) {
        s.beginGroup(group);
        QStringList children = s.childGroups();
        s.endGroup();
        auto child = Match(children, parts[i]);
        if (!child)
            break;
        group = Join(group, *child);
    }
    if (i == parts.size())
        return 0;
    if (!create)
        return ENOENT;
    if (!s.isWritable())
        return EACCES;
    SaveGuard guard(s);
    for (; i < parts.size(); ++i)
        group = Join(group, QString::fromUtf8(RegistryName::Escape(parts[i])));
    // The new key holds nothing yet; the keys above it now hold it.
    guard.Set(Join(group, kKeyMarker), QString());
    PlaceMarkers(s, guard, QString());
    return guard.Save();
}

std::optional<QString> CRegistryKey::Impl::FindValue(QSettings& s, const std::string& name) const
{
    s.beginGroup(group);
    QStringList keys = s.childKeys();
    s.endGroup();
    keys.removeAll(kKeyMarker);
    return Match(keys, name);
}

int CRegistryKey::Impl::WriteValue(const std::string& name, const QVariant& v)
{
    if (int err = EnsurePrivateFile(file))
        return err;
    FolderLock lock(companyDir);
    if (int err = ParseableError(file))
        return err;
    QSettings s(QPath(file), QSettings::IniFormat);
    s.sync();
    if (!s.isWritable())
        return EACCES;
    auto stored = FindValue(s, name);
    QString key = stored ? *stored : QString::fromUtf8(RegistryName::Escape(name));
    SaveGuard guard(s);
    guard.Set(Join(group, key), v);
    PlaceMarkers(s, guard, QString());
    return guard.Save();
}

CRegistryKey::CRegistryKey() : impl_(nullptr)
{
}

CRegistryKey::~CRegistryKey()
{
    delete impl_;
}

bool CRegistryKey::IsOpen() const
{
    return impl_ != nullptr;
}

std::string CRegistryKey::EscapeKeyName(const std::string& name)
{
    return RegistryName::Escape(name);
}

int CRegistryKey::Open(RegistryRoot root, const std::string& subkey)
{
    delete impl_;
    impl_ = nullptr;
    std::vector<std::string> parts;
    lastError_ = ParsePath(subkey, parts);
    if (lastError_)
        return 0;
    auto impl = new Impl;
    lastError_ = impl->Locate(root, parts, false);
    if (lastError_) {
        delete impl;
        return 0;
    }
    impl_ = impl;
    return 1;
}

int CRegistryKey::Close()
{
    if (!impl_) {
        lastError_ = EBADF;
        return 0;
    }
    delete impl_;
    impl_ = nullptr;
    lastError_ = 0;
    return 1;
}

int CRegistryKey::ReadString(const std::string& name, std::string& value, size_t size)
{
    value.clear();
    if (!impl_) {
        lastError_ = EBADF;
        return 0;
    }
    if (name.empty() || size == 0) {
        lastError_ = EINVAL;
        return 0;
    }
    if (impl_->depth < 3) {
        lastError_ = ENOTSUP;
        return 0;
    }
    if ((lastError_ = ParseableError(impl_->file)))
        return 0;
    QSettings s(QPath(impl_->file), QSettings::IniFormat);
    s.sync();
    auto stored = impl_->FindValue(s, name);
    if (!stored) {
        lastError_ = ENOENT;
        return 0;
    }
    value = VariantText(s.value(Join(impl_->group, *stored)));
    CutUtf8(value, size - 1);
    lastError_ = 0;
    return 1;
}

int CRegistryKey::ReadDword(const std::string& name, uint32_t& value)
{
    std::string text;
    if (!ReadString(name, text, 64))
        return 0;
    uint32_t v = 0;
    if (!ParseDword(text, v)) {
        lastError_ = EINVAL;
        return 0;
    }
    value = v;
    return 1;
}

int CRegistryKey::WriteString(const std::string& name, const std::string& text)
{
    if (!impl_) {
        lastError_ = EBADF;
        return 0;
    }
    if (name.empty()) {
        lastError_ = EINVAL;
        return 0;
    }
    if (impl_->depth < 3) {
        lastError_ = ENOTSUP;
        return 0;
    }
    lastError_ = impl_->WriteValue(name, TextVariant(text));
    return lastError_ ? 0 : 1;
}

int CRegistryKey::WriteDword(const std::string& name, uint32_t value)
{
    return WriteString(name, std::to_string(value));
}

int CRegistryKey::DeleteValue(const std::string& name)
{
    if (!impl_) {
        lastError_ = EBADF;
        return 0;
    }
    if (name.empty()) {
        lastError_ = EINVAL;
        return 0;
    }
    if (impl_->depth < 3) {
        lastError_ = ENOTSUP;
        return 0;
    }
    FolderLock lock(impl_->companyDir);
    if ((lastError_ = ParseableError(impl_->file)))
        return 0;
    QSettings s(QPath(impl_->file), QSettings::IniFormat);
    s.sync();
    auto stored = impl_->FindValue(s, name);
    if (!stored) {
        lastError_ = ENOENT;
        return 0;
    }
    if (!s.isWritable()) {
        lastError_ = EACCES;
        return 0;
    }
    SaveGuard guard(s);
    guard.Remove(Join(impl_->group, *stored));
    PlaceMarkers(s, guard, impl_->group);
    lastError_ = guard.Save();
    return lastError_ ? 0 : 1;
}

int CRegistryKey::EnumSubKeys(std::vector<std::string>& names)
{
    names.clear();
    if (!impl_) {
        lastError_ = EBADF;
        return 0;
    }
    std::vector<std::string> stored;
    if (impl_->depth == 1) {
        stored = ListEntries(impl_->rootDir, true, "");
    } else if (impl_->depth == 2) {
        stored = ListEntries(impl_->companyDir, false, kFileSuffix);
    } else {
        if ((lastError_ = ParseableError(impl_->file)))
            return 0;
        QSettings s(QPath(impl_->file), QSettings::IniFormat);
        s.sync();
        s.beginGroup(impl_->group);
        for (const QString& g : s.childGroups())
            stored.push_back(g.toUtf8().toStdString());
        s.endGroup();
    }
    for (const auto& s : stored)
        names.push_back(RegistryName::Unescape(s));
    std::sort(names.begin(), names.end(), RegistryName::Less);
    lastError_ = 0;
    return 1;
}

int CRegistryKey::EnumValues(std::vector<std::string>& names)
{
    names.clear();
    if (!impl_) {
        lastError_ = EBADF;
        return 0;
    }
    if (impl_->depth >= 3) {
        if ((lastError_ = ParseableError(impl_->file)))
            return 0;
        QSettings s(QPath(impl_->file), QSettings::IniFormat);
        s.sync();
        s.beginGroup(impl_->group);
        for (const QString& k : s.childKeys())
            if (k != kKeyMarker)
                names.push_back(RegistryName::Unescape(k.toUtf8().toStdString()));
        s.endGroup();
    }
    std::sort(names.begin(), names.end(), RegistryName::Less);
    lastError_ = 0;
    return 1;
}

int CRegistryKey::CreateKey(RegistryRoot root, const std::string& subkey)
{
    std::vector<std::string> parts;
    lastError_ = ParsePath(subkey, parts);
    if (lastError_)
        return 0;
    Impl where;
    lastError_ = where.Locate(root, parts, true);
    return lastError_ ? 0 : 1;
}

namespace
{

// Empties the file through QSettings first, so that the copy QSettings caches for this process
// forgets the old values too, then removes it.
int RemoveSettingsFile(const std::string& path)
{
    // A file QSettings must not parse is removed without it.
    if (ParseableError(path) == 0) {
        QSettings s(QPath(path), QSettings::IniFormat);
        s.sync();
        if (!s.isWritable())
            return EACCES;
        SaveGuard guard(s);
        guard.Remove(QString());
        if (int err = guard.Save())
            return err;
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return errno;
    return 0;
}

} // namespace

int CRegistryKey::DeleteKey(RegistryRoot root, const std::string& subkey)
{
    std::vector<std::string> parts;
    lastError_ = ParsePath(subkey, parts);
    if (lastError_)
        return 0;
    Impl where;
    lastError_ = where.Locate(root, parts, false);
    if (lastError_)
        return 0;
    if (where.depth == 1) {
        lastError_ = EPERM; // the whole configuration folder is not ours to remove
        return 0;
    }
    if (where.depth == 2) {
        {
            FolderLock lock(where.companyDir);
            for (const auto& app : ListEntries(where.companyDir, false, kFileSuffix)) {
                if ((lastError_ = RemoveSettingsFile(where.companyDir + "/" + app + kFileSuffix)))
                    return 0;
            }
        }
        if (::rmdir(where.companyDir.c_str()) != 0) {
            lastError_ = errno;
            return 0;
        }
        return 1;
    }
    FolderLock lock(where.companyDir);
    if (where.depth == 3) {
        lastError_ = RemoveSettingsFile(where.file);
        return lastError_ ? 0 : 1;
    }
    if ((lastError_ = ParseableError(where.file)))
        return 0;
    QSettings s(QPath(where.file), QSettings::IniFormat);
    s.sync();
    if (!s.isWritable()) {
        lastError_ = EACCES;
        return 0;
    }
    SaveGuard guard(s);
    guard.Remove(where.group);
    // Deleting a subkey keeps its parent, also when that held nothing else.
    PlaceMarkers(s, guard, ParentGroup(where.group));
    lastError_ = guard.Save();
    return lastError_ ? 0 : 1;
}
