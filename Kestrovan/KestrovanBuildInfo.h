// What this build of the engine is: its release tag and, when it was built from a git checkout, the
// source revision and whether the checkout had uncommitted changes.
//
// The tag is fixed here; the revision is written into the build tree at build time
// (tools/buildinfo/), never committed, so a build from a source tarball without git simply has
// none. Only the tag, branch and version are ever reported to programs (XTVERSION); the revision
// stays with the host, for diagnostics.
#pragma once

#include <optional>
#include <string>

namespace kestrovan {

struct KestrovanBuildInfo
{
    KestrovanBuildInfo() = delete;

    /// The release tag, "v1.99.2".
    static const std::optional<std::string>& tag();
    /// The branch built from; releases carry none.
    static const std::optional<std::string>& branch();
    /// The tag when there is one, otherwise "unknown"; computed once.
    static const std::string& version();
    /// The full source revision (`git rev-parse HEAD`), absent when git could not tell.
    static const std::optional<std::string>& commit();
    /// Whether `git status --porcelain` listed anything, absent when git could not tell.
    static const std::optional<bool>& hasUncommittedChanges();
    /// The identity XTVERSION reports: "Kestrovan", the tag without its "v", "-" and the branch,
    /// "+" and the version unless "unknown", then ":"; only printable ASCII, at most 256 bytes.
    static std::string xtVersionIdentity(const std::optional<std::string>& tag,
                                         const std::optional<std::string>& branch,
                                         const std::optional<std::string>& version);
};

namespace detail {
/// Written by the build into KestrovanBuildRevision.cpp: the revision, or null when unknown.
extern const char* const kestrovanBuildCommit;
/// 1 when the checkout had uncommitted changes, 0 when it had none, -1 when unknown.
extern const int kestrovanBuildUncommittedChanges;
} // namespace detail

} // namespace kestrovan
