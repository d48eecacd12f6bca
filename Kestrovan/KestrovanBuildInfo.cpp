#include "Kestrovan/KestrovanBuildInfo.h"

#include <algorithm>
#include <iterator>

namespace kestrovan {

namespace {

/// The printable ASCII of a text; absent when none is left.
std::optional<std::string> printableAscii(const std::optional<std::string>& text)
{
    if (!text)
        return std::nullopt;
    std::string out;
    std::copy_if(text->begin(), text->end(), std::back_inserter(out),
                 [](char c) { return c >= 0x20 && c <= 0x7E; });
    if (out.empty())
        return std::nullopt;
    return out;
}

} // namespace

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

std::string KestrovanBuildInfo::xtVersionIdentity(const std::optional<std::string>& tag,
                                                  const std::optional<std::string>& branch,
                                                  const std::optional<std::string>& version)
{
    // Only printable ASCII ever reaches the reply, so build data cannot smuggle a control into it.
    std::string identity = "Kestrovan";
    if (std::optional<std::string> cleanTag = printableAscii(tag)) {
        if (cleanTag->front() == 'v')
            cleanTag->erase(0, 1);
        if (!cleanTag->empty())
            identity += " " + *cleanTag;
    }
    if (const std::optional<std::string> cleanBranch = printableAscii(branch))
        identity += "-" + *cleanBranch;
    if (const std::optional<std::string> cleanVersion = printableAscii(version);
        cleanVersion && *cleanVersion != "unknown")
        identity += "+" + *cleanVersion;
    identity += ":";
    // Programs read the reply into small buffers: keep it at 256 bytes, still ending in ":".
    if (identity.size() >= 257) {
        identity.resize(255);
        identity += ":";
    }
    return identity;
}

} // namespace kestrovan
