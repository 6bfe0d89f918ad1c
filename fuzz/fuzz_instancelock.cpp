// The reading of the data folder's lock file, which names the running instance's socket: never crashes,
// and names only an absolute path of one line no longer than a path.
#include "platform/InstanceLock.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::optional<std::string> address =
        InstanceLock::addressIn(std::string_view(reinterpret_cast<const char *>(data), size));
    if (address && (address->empty() || address->front() != '/' || address->size() >= PATH_MAX ||
                    address->find('\n') != std::string::npos || address->find('\0') != std::string::npos))
        std::abort();
    return 0;
}
