#include "window/PlatformIdentity.h"

#include <utility>

namespace {

PlatformIdentity& Identity()
{
    static PlatformIdentity identity;
    return identity;
}

}  // namespace

void SetPlatformIdentity(PlatformIdentity identity)
{
    Identity() = std::move(identity);
}

const PlatformIdentity& GetPlatformIdentity()
{
    return Identity();
}
