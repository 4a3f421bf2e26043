#include "process_memory.h"

#include <cstdio>
#include <cstring>

namespace quillary {
namespace {

// A "Name:   1234 kB" line of /proc/self/status, in bytes.
std::uint64_t StatusField(const char* name) {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) {
        return 0;
    }
    const std::size_t nameLength = std::strlen(name);
    char line[256];
    std::uint64_t kib = 0;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, name, nameLength) == 0 && line[nameLength] == ':') {
            unsigned long long value = 0;
            if (std::sscanf(line + nameLength + 1, "%llu", &value) == 1) {
                kib = value;
            }
            break;
        }
    }
    std::fclose(status);
    return kib * 1024;
}

}  // namespace

std::uint64_t ResidentBytes() {
    return StatusField("VmRSS");
}

std::uint64_t PeakResidentBytes() {
    return StatusField("VmHWM");
}

bool ResetPeakResidentBytes() {
    // Writing 5 to clear_refs sets the peak resident size back to the current one.
    std::FILE* refs = std::fopen("/proc/self/clear_refs", "w");
    if (refs == nullptr) {
        return false;
    }
    const bool written = std::fputs("5", refs) >= 0;
    return std::fclose(refs) == 0 && written;
}

}  // namespace quillary
