#include "Kestrovan/LocalProcessProgramSearch.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>
#include <vector>

using namespace kestrovan;

namespace {

// A scratch tree of folders holding programs and other files, removed when it goes.
class ScratchTree
{
public:
    ScratchTree()
    {
        char pattern[] = "/tmp/kestrovan-search-XXXXXX";
        root = mkdtemp(pattern) ? pattern : "";
    }
    ~ScratchTree()
    {
        for (auto it = made_.rbegin(); it != made_.rend(); ++it)
            std::remove(it->c_str());
        rmdir(root.c_str());
    }
    void folder(const std::string& name)
    {
        mkdir((root + "/" + name).c_str(), 0755);
        made_.push_back(root + "/" + name);
    }
    void file(const std::string& name, mode_t mode)
    {
        const std::string path = root + "/" + name;
        FILE* out = std::fopen(path.c_str(), "w");
        std::fputs("#!/bin/sh\n", out);
        std::fclose(out);
        chmod(path.c_str(), mode);
        made_.push_back(path);
    }

    std::string root;

private:
    std::vector<std::string> made_;
};

} // namespace

TEST(LocalProcessProgramSearch, FindsAProgramAsExecvpWould)
{
    ScratchTree tree;
    ASSERT_FALSE(tree.root.empty());
    for (const char* name : {"one", "two", "one/tool", "two/tool", "two/plain"})
        std::string(name).find('/') == std::string::npos ? tree.folder(name) : tree.file(name, 0755);
    tree.file("one/locked", 0644);
    tree.file("one/plain", 0644);
    tree.folder("one/folder");
    tree.file("here", 0755);
    const std::string one = tree.root + "/one";
    const std::string two = tree.root + "/two";

    struct Case
    {
        const char* name;
        std::string program;
        std::string searchPath;
        std::optional<std::string> currentDirectory;
        std::variant<std::string, int> expected;
    };
    const Case cases[] = {
        {"the first folder that has it wins", "tool", one + ":" + two, std::nullopt, one + "/tool"},
        {"a file that may not be run is passed over", "plain", one + ":" + two, std::nullopt, two + "/plain"},
        {"nothing by the name", "absent", one + ":" + two, std::nullopt, ENOENT},
        {"only a file that may not be run", "locked", one + ":" + two, std::nullopt, EACCES},
        {"only a folder by the name", "folder", one, std::nullopt, EACCES},
        {"a name with a slash is not searched", "./tool", one, std::nullopt, "./tool"},
        {"an empty name is never found", "", one, std::nullopt, ENOENT},
        {"an empty entry is the child's directory", "here", one + "::" + two, tree.root, tree.root + "/here"},
        {"a relative entry counts from the child's directory", "tool", "two", tree.root,
         tree.root + "/two/tool"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(findProgram(test.program, test.searchPath, test.currentDirectory), test.expected);
    }
}
