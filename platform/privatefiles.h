#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <sys/types.h>

#include <utility>

struct stat;

namespace Orvex {

// Closes the descriptor on every way out.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1)
        : m_fd(fd) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor &&other) noexcept
        : m_fd(other.release()) {}
    FileDescriptor &operator=(FileDescriptor &&other) noexcept;
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

// The user's files and the folders that hold them: nothing the component writes may be redirected by a
// link, replaced, or read by another user. Paths are native; every refusal comes as a short reason that a
// message can quote after the path.
namespace PrivateFiles {

constexpr mode_t FileMode = 0600;
constexpr mode_t FolderMode = 0700;

// Why a folder may not hold the user's files, or the empty text when it may: a folder (not a link to one),
// owned by the effective user, writable by neither group nor others.
QString folderRefusal(const struct stat &status);

// Why a file may not be written, or the empty text when it may: a regular file (not a link), owned by the
// effective user, with no second name another user could have given it.
QString fileRefusal(const struct stat &status);

// folder, opened as the base of the *at() calls without following a link in its last component and
// checked with folderRefusal; invalid with the reason in *refusal.
FileDescriptor openFolder(const QByteArray &folder, QString *refusal);

// name in the opened folder for writing (flags such as O_APPEND | O_CREAT), never through a link, made
// FileMode when new and checked with fileRefusal; an existing file loses any access of group and others.
FileDescriptor openFile(int folder, const QByteArray &name, int flags, QString *refusal);

// Makes folder and every missing parent with FolderMode, as the XDG base directory rules ask; existing
// folders keep their mode. False with the reason when one cannot be made.
bool makeFolders(const QByteArray &folder, QString *refusal);

// Gives path the contents in one step (a new file renamed over the old name), so a reader never sees
// half a file and a link at that name is replaced, never followed. Missing folders are made; the folder
// and any file already at path must pass the rules above.
bool replaceFile(const QByteArray &path, const QByteArray &contents, QString *refusal);

// All of contents to fd, a write at a time as the kernel takes them; false with errno set when it fails.
bool writeAll(int fd, QByteArrayView contents);

// path's folder and last component ("." for a bare name); a path ending in "/" has an empty name.
std::pair<QByteArray, QByteArray> splitPath(const QByteArray &path);

} // namespace PrivateFiles

} // namespace Orvex
