#include "platform/FreeSpace.h"

#include <QStorageInfo>

namespace {

class SystemFreeSpace final : public FreeSpace {
public:
    std::optional<qint64> bytesAvailable(const QString &path) const override
    {
        const QStorageInfo storage(path);
        if (!storage.isValid() || !storage.isReady())
            return std::nullopt;
        const qint64 available = storage.bytesAvailable();
        if (available < 0)
            return std::nullopt;
        return available;
    }
};

} // namespace

const FreeSpace &FreeSpace::system()
{
    static const SystemFreeSpace instance;
    return instance;
}
