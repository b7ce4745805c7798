#include "cli/careful_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "cli/cli.h"
#include "cli/connection.h"
#include "cli/text.h"

namespace tensivo::cli {

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& why) {
  throw Failure(kFileFailed, "cannot write " + Printable(path) + ": " + why);
}

std::string Why(int error) { return std::strerror(error); }

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return "no regular file";
}

// The file the name finally stands for and what it is now, if it exists.
struct Target {
  std::string path;
  std::optional<struct stat> existing;
};

Target Resolve(const std::string& path) {
  if (path.empty()) Fail(path, "no file name given");
  // A name ending in '/' can only be a directory, whatever is there now.
  if (path.back() == '/') Fail(path, "the name ends in '/', so it names a directory");
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      Fail(path, std::string("it is ") + KindOf(st.st_mode) +
                     ", not a file; to print the profile, save to '-' (standard output)");
    }
    // The rename below needs only the directory's permission; the file's own
    // is what its owner set to keep it, and open(2) would honour it. A file
    // with no write bit at all is kept from root too, as a read-only mark.
    if ((st.st_mode & 0222) == 0) Fail(path, "it is read-only; not replacing it");
    if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) Fail(path, Why(errno));
    // Written beside the file itself, so that links to it stay links.
    const std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr),
                                                            &std::free);
    if (!real) Fail(path, Why(errno));
    return {real.get(), st};
  }
  const int error = errno;
  if (error != ENOENT) Fail(path, Why(error));
  // A link to nothing: cp refuses to write through one too, as it could
  // make a file anywhere its maker chose.
  if (lstat(path.c_str(), &st) == 0) {
    Fail(path, "it is a symbolic link to a file that does not exist; not writing through it");
  }
  return {path, std::nullopt};
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The mode a new file gets from open(2) with 0666, as every editor's would.
mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

void WriteFileCarefully(const std::string& path, std::string_view text) {
  const Target target = Resolve(path);
  const std::string directory = DirectoryOf(target.path);
  // A fixed short name: the target's own may already be as long as a name can be.
  std::string temporary = directory + "/.tensivo-cli-XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    // The file itself may be writable: say why its directory matters.
    const bool denied = error == EACCES || error == EPERM;
    Fail(path, Why(error) + (denied ? " (the profile is written to a new file in " +
                                          Printable(directory) +
                                          " and renamed over it, so that a failed write leaves "
                                          "the old one)"
                                    : std::string()));
  }
  const auto abandon = [&](int error) {
    close(fd);
    unlink(temporary.c_str());
    Fail(path, Why(error));
  };
  if (!WriteAll(fd, text)) abandon(errno);
  if (target.existing) {
    // The owner first: a chown clears the set-id bits a chmod would set.
    if (geteuid() == 0 && fchown(fd, target.existing->st_uid, target.existing->st_gid) != 0) {
      abandon(errno);
    }
    if (fchmod(fd, target.existing->st_mode & 07777) != 0) abandon(errno);
  } else if (fchmod(fd, NewFileMode()) != 0) {
    abandon(errno);
  }
  if (fsync(fd) != 0) abandon(errno);
  if (close(fd) != 0) {
    const int error = errno;
    unlink(temporary.c_str());
    Fail(path, Why(error));
  }
  if (rename(temporary.c_str(), target.path.c_str()) != 0) {
    const int error = errno;
    unlink(temporary.c_str());
    Fail(path, Why(error));
  }
  // The rename itself lasts once the directory is on disk (POSIX rename(),
  // fsync(2) on the directory).
  const int dir = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
}

}  // namespace tensivo::cli
