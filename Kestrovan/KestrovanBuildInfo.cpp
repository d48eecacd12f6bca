#include "Kestrovan/KestrovanBuildInfo.h"

namespace kestrovan {

const std::optional<std::string>& KestrovanBuildInfo::tag()
{
    static const std::optional<std::string> value = "v1.99.2";
    return value;
}

const std::optional<std::string>& KestrovanBuildInfo::branch()
{
    // Release builds are made from a tag, never from a branch.
    static const std::optional<std::string> value;
    return value;
}

const std::string& KestrovanBuildInfo::version()
{
    static const std::string value = tag().value_or("unknown");
    return value;
}

const std::optional<std::string>& KestrovanBuildInfo::commit()
{
    // The generated values are constant-initialised, so reading them here is safe at any time,
    // even from another translation unit's static initialisation.
    static const std::optional<std::string> value =
        detail::kestrovanBuildCommit ? std::optional<std::string>(detail::kestrovanBuildCommit)
                                     : std::nullopt;
    return value;
}

const std::optional<bool>& KestrovanBuildInfo::hasUncommittedChanges()
{
    static const std::optional<bool> value =
        detail::kestrovanBuildUncommittedChanges < 0
            ? std::nullopt
            : std::optional<bool>(detail::kestrovanBuildUncommittedChanges > 0);
    return value;
}

} // namespace kestrovan
