// The reading of the data folder's lock file, which names the running instance's socket: never crashes,
// and names only an absolute path of one line that fits a socket address.
#include "platform/InstanceLock.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <sys/un.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::optional<std::string> address =
        InstanceLock::addressIn(std::string_view(reinterpret_cast<const char *>(data), size));
    if (address &&
        (address->empty() || address->front() != '/' || address->size() >= sizeof(sockaddr_un::sun_path) ||
         address->find('\n') != std::string::npos || address->find('\0') != std::string::npos))
        std::abort();
    return 0;
}
