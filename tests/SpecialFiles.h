// What a test puts at a path in place of a regular file: a FIFO, a directory, a link loop, a
// socket; and the regular files (and a link to one) to compare with.
#pragma once

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

/// What may sit at a path.
enum class Thing
{
    nothing,
    regularFile,
    linkToRegularFile,
    fifo,
    directory,
    linkLoop,
    socket
};

/// A bound Unix socket at a path, closed at the end (the socket file stays in the folder).
struct BoundSocket
{
    int descriptor = -1;
    ~BoundSocket()
    {
        if (descriptor >= 0)
            close(descriptor);
    }
};

inline void plant(Thing thing, const std::string& path, const std::string& contents, BoundSocket& socket)
{
    switch (thing) {
    case Thing::nothing:
        break;
    case Thing::regularFile:
        std::ofstream(path) << contents;
        break;
    case Thing::linkToRegularFile:
        std::ofstream(path + ".target") << contents;
        std::filesystem::create_symlink(path + ".target", path);
        break;
    case Thing::fifo:
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        break;
    case Thing::directory:
        std::filesystem::create_directory(path);
        break;
    case Thing::linkLoop:
        std::filesystem::create_symlink(path + ".other", path);
        std::filesystem::create_symlink(path, path + ".other");
        break;
    case Thing::socket: {
        socket.descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        ASSERT_LT(path.size(), sizeof address.sun_path);
        path.copy(address.sun_path, path.size());
        ASSERT_EQ(bind(socket.descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(listen(socket.descriptor, 1), 0);
        break;
    }
    }
}

inline const char* nameOf(Thing thing)
{
    constexpr const char* names[] = {"nothing", "a regular file", "a link to a regular file",
                                     "a FIFO",  "a directory",    "a link loop",
                                     "a socket"};
    return names[static_cast<int>(thing)];
}
