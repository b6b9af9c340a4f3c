// Files that the program names as it would on Windows, and that users bring: models and
// textures from other tools.
#include "platform/win32/host.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <strings.h>

namespace fw {

namespace {

bool Exists(const std::string& path) {
    struct stat status {};
    return !path.empty() && stat(path.c_str(), &status) == 0;
}

// The entry of folder whose name equals name without regard to case (the first in name
// order, so the choice does not depend on the file system); empty when there is none.
std::string FindFolded(const std::string& folder, const std::string& name) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return {};
    std::string found;
    while (dirent* entry = readdir(dir)) {
        if (strcasecmp(entry->d_name, name.c_str()) == 0 &&
            (found.empty() || entry->d_name < found))
            found = entry->d_name;
    }
    closedir(dir);
    return found;
}

std::string Describe(size_t bytes) {
    return std::to_string(bytes) + " bytes";
}

} // namespace

std::string ResolveWindowsPath(const std::string& name) {
    std::string path = name;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (Exists(path))
        return path;
    // Component by component, the exact name where it exists, else one that differs in case.
    std::string resolved = path.starts_with('/') ? "/" : "";
    size_t start = path.find_first_not_of('/');
    while (start != std::string::npos) {
        size_t end = path.find('/', start);
        std::string part = path.substr(start, end == std::string::npos ? end : end - start);
        std::string folder = resolved.empty() || resolved == "/" ? resolved : resolved + "/";
        if (part != "." && part != ".." && !Exists(folder + part)) {
            std::string folded = FindFolded(resolved, part);
            if (folded.empty())
                return path;
            part = folded;
        }
        resolved = folder + part;
        start = end == std::string::npos ? end : path.find_first_not_of('/', end);
    }
    return resolved;
}

bool ReadUserFile(const std::string& name, std::vector<uint8_t>& bytes, std::string& error) {
    const size_t limit = kMaxUserFileBytes;
    const std::string path = ResolveWindowsPath(name);
    // Not blocking: a pipe or a device would otherwise wait here for a writer forever.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno == ENOENT || errno == ENOTDIR
                    ? "file not found"
                    : std::string("cannot open the file (") + std::strerror(errno) + ")";
        return false;
    }
    struct stat status {};
    bool ok = false;
    if (fstat(fd, &status) != 0) {
        error = "cannot read the file's size";
    } else if (!S_ISREG(status.st_mode)) {
        error = S_ISDIR(status.st_mode) ? "not a regular file (a folder)" : "not a regular file";
    } else if (uint64_t(status.st_size) > limit) {
        error =
            "file too large: " + Describe(size_t(status.st_size)) + ", at most " + Describe(limit);
    } else {
        try {
            bytes.resize(size_t(status.st_size));
            size_t done = 0;
            while (done < bytes.size()) {
                ssize_t got = read(fd, bytes.data() + done, bytes.size() - done);
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0)
                    break;
                done += size_t(got);
            }
            ok = done == bytes.size();
            if (!ok)
                error = "cannot read the file";
        } catch (const std::bad_alloc&) {
            error = "out of memory for " + Describe(size_t(status.st_size));
        }
    }
    close(fd);
    if (!ok)
        bytes.clear();
    return ok;
}

} // namespace fw
