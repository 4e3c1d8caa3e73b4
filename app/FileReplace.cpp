#include "app/FileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <random>

#include "app/Signals.h"
#include "source/Errors.h"
#include "source/TextFile.h"

namespace korvid {

namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own limit

std::string Directory(const std::string& fileName) {
  std::size_t slash = fileName.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : fileName.substr(0, slash);
}

bool WriteAll(int fd, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string FollowLinks(const std::string& fileName) {
  std::string name = fileName;
  for (int hops = 0; hops < kMaxLinks; ++hops) {
    struct stat info {};
    if (lstat(name.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return name;
    std::string target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 4096) + 1, '\0');
    ssize_t length = readlink(name.c_str(), target.data(), target.size());
    if (length < 0) return name;
    target.resize(static_cast<std::size_t>(length));
    name = target.front() == '/' ? target : Directory(name) + "/" + target;
  }
  throw KorvidError("\"" + fileName + "\" is a loop of symbolic links");
}

bool IsReadOnly(const std::string& fileName) {
  struct stat info {};
  if (stat(fileName.c_str(), &info) != 0) return false;
  return access(fileName.c_str(), W_OK) != 0 || (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

void ReplaceFile(const std::string& fileName, const std::string& content) {
  const std::string target = FollowLinks(fileName);
  auto fail = [&](const std::string& why) { throw KorvidError("cannot write \"" + fileName + "\": " + why); };
  struct stat old {};
  bool exists = stat(target.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) fail("it is not a regular file");
  if (exists && IsReadOnly(target)) fail("it is read-only");

  const std::string base = target.substr(target.find_last_of('/') + 1);
  std::string temp;
  std::optional<TRemoveOnSignal> registered;
  int fd = -1;
  std::random_device seed;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temp = Directory(target) + "/." + base + ".tmp" + std::to_string(seed());
    registered.emplace(temp);
    // A new file gets the usual mode through the umask; a replacement stays
    // private until it has the old file's owner and mode.
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) fail(std::strerror(errno));
  }
  if (fd < 0) fail("no free temporary name beside it");
  auto discard = [&](const std::string& why) {
    if (fd >= 0) close(fd);
    unlink(temp.c_str());
    fail(why);
  };
  if (!WriteAll(fd, content)) discard(std::strerror(errno));
  if (exists) {
    // Only root may give a file away; a member of the group may still keep the group.
    if (fchown(fd, old.st_uid, old.st_gid) != 0) (void)!fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    if (fchmod(fd, old.st_mode & 07777) != 0) discard(std::strerror(errno));
  }
  int closed = close(fd);
  fd = -1;
  // Disk full may show only when the data reaches the disk, at close.
  if (closed != 0) discard(std::strerror(errno));
  if (rename(temp.c_str(), target.c_str()) != 0) discard(std::strerror(errno));
}

void UseFaithfulReplace() { SetFileReplacer(ReplaceFile); }

}  // namespace korvid
