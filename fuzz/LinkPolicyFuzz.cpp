// Link targets come straight from program output (OSC 8 URIs and text that looks like a path): the
// URL parser, the link-safety policy, the display text and the turning of clicked text into a
// target must take any bytes. The file system is a stand-in that answers from the path itself, so
// the run touches no disk. Checked on every input:
//   - the display text holds no unsafe scalar, and is valid UTF-8;
//   - a file URL made from a path decodes back to that path;
//   - an allowed file link is a file URL of an absolute path this machine calls regular or a folder.
#include "Kestrovan/Mac/LinkURL.h"
#include "Kestrovan/Mac/TerminalLinkOpening.h"
#include "Kestrovan/Mac/UntrustedTerminalLink.h"
#include "Kestrovan/Utf8.h"
#include "Platform/UI/Utf8.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

using kestrovan::LinkFileSystem;

/// A machine whose files are what their paths say: a path's length picks whether it exists and
/// what kind of file it is, its last letter whether it can run.
class PathFileSystem final : public LinkFileSystem
{
public:
    bool exists(const std::string& path) const override { return path.size() % 3 != 0; }
    std::optional<std::string> resolvedPath(const std::string& path) const override
    {
        if (path.empty() || path.front() != '/' || !exists(path))
            return std::nullopt;
        return path;
    }
    std::optional<Entry> entry(const std::string& path) const override
    {
        Entry entry;
        entry.kind = path.size() % 5 == 0   ? Entry::Kind::special
                     : path.size() % 5 == 1 ? Entry::Kind::directory
                                            : Entry::Kind::regularFile;
        entry.executable = !path.empty() && path.back() == 'x';
        return entry;
    }
    std::optional<std::string> contentType(const std::string& path) const override
    {
        return path.size() % 2 ? "text/plain" : "application/x-executable";
    }
    bool contentTypeIsA(const std::string& type, const std::string& supertype) const override
    {
        return type == supertype;
    }
    std::string hostName() const override { return "fuzzhost"; }
    std::optional<std::string> homeDirectory() const override { return "/home/fuzz"; }
    std::optional<std::string> workingDirectory(int32_t) const override { return std::nullopt; }
};

bool isValidUtf8(const std::string& text)
{
    return kestrovan::isValidUtf8(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kestrovan;
    const PathFileSystem files;
    const std::string text(reinterpret_cast<const char*>(data), size);

    LinkURL::parse(text);
    if (text.find('\0') == std::string::npos &&
        LinkURL::percentDecoded(LinkURL::fileURLString(text).substr(7)) != text)
        std::abort();

    const UntrustedTerminalLink link{text};
    const std::string shown = link.displayString(files);
    if (!isValidUtf8(shown) || UntrustedTerminalLink::containsUnsafeCharacters(shown))
        std::abort();
    const UntrustedTerminalLink::Decision decision = link.decision(files);
    if (decision.kind == UntrustedTerminalLink::Decision::Kind::allow &&
        decision.url.rfind("file:", 0) == 0) {
        const std::optional<std::string> path = LinkURL::percentDecoded(decision.url.substr(7));
        if (!path || path->empty() || path->front() != '/')
            std::abort();
        const std::optional<LinkFileSystem::Entry> entry = files.entry(*path);
        if (!entry || entry->kind == LinkFileSystem::Entry::Kind::special)
            std::abort();
    }

    for (const bool isExplicit : {false, true}) {
        const UntrustedTerminalLink target =
            TerminalLinkOpening::defaultLinkTarget(text, isExplicit, files, std::string("/work"));
        target.decision(files);
    }
    return 0;
}
