#include "process_snapshot.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

fs::path procDir(pid_t pid) {
    return fs::path("/proc") / std::to_string(pid);
}

// The number of kibibytes in a line of /proc/PID/status such as "VmRSS:   13652 kB".
std::optional<long> kibibytes(const std::string& status, const std::string& field) {
    const auto at = status.find("\n" + field + ":");
    if (at == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream line(status.substr(at + field.size() + 2));
    long value = 0;
    if (!(line >> value)) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<ProcessSnapshot> ProcessSnapshot::of(pid_t pid) {
    const fs::path dir = procDir(pid);
    std::ifstream statusFile(dir / "status");
    if (!statusFile) {
        return std::nullopt;
    }
    const std::string status = "\n" + std::string(std::istreambuf_iterator<char>(statusFile),
                                                  std::istreambuf_iterator<char>());
    const auto resident = kibibytes(status, "VmRSS");
    const auto peak = kibibytes(status, "VmHWM");
    const auto mapped = kibibytes(status, "VmSize");
    if (!resident || !peak || !mapped) {
        return std::nullopt;
    }
    ProcessSnapshot snapshot;
    snapshot.residentKiB = *resident;
    snapshot.peakResidentKiB = *peak;
    snapshot.virtualKiB = *mapped;
    std::error_code error;
    for (fs::directory_iterator it(dir / "fd", error), end; !error && it != end;
         it.increment(error)) {
        std::error_code gone; // closed since the listing
        const fs::path target = fs::read_symlink(it->path(), gone);
        if (!gone) {
            snapshot.descriptors.push_back(target.string());
        }
    }
    for (fs::directory_iterator it(dir / "task", error), end; !error && it != end;
         it.increment(error)) {
        std::ifstream comm(it->path() / "comm");
        std::string name;
        std::getline(comm, name);
        snapshot.threadNames.push_back(name);
    }
    if (error) {
        return std::nullopt;
    }
    return snapshot;
}

bool ProcessSnapshot::resetPeak(pid_t pid) {
    std::ofstream clear(procDir(pid) / "clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}
