// The local media of kitty graphics transmissions: regular files, temporary files and POSIX shared
// memory, each read only when the terminal's local-media policy allows it.
//
// These paths run on the parse thread with the terminal lock held, so none of them may block: a
// file is opened non-blocking and must be a regular file before a byte is read, and shared memory
// is copied with `pread`, never mapped, so an object that shrinks meanwhile gives a short read
// instead of a fault. Only what the command can use is read (`kittyMediaReadLimit`): the pixels
// its keys describe, or for compressed data and PNG at most the quota, whatever size the file
// or object claims. Paths are canonicalised, kept out of /proc, /sys and /dev (but /dev/shm),
// and opened again with symbolic links refused, so a path swapped after the check cannot lead
// elsewhere.
#pragma once

#include "Kestrovan/KittyGraphicsPayload.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestrovan {

/// The regular-file ("f") and temporary-file ("t") media; the payload is the base64 of a path.
KittyPayloadResult loadKittyFilePayload(const KittyGraphicsControl& control,
                                        std::span<const uint8_t> base64Payload,
                                        const KittyGraphicsConfiguration& configuration, bool temporary,
                                        std::optional<int64_t> maximumImageBytes = std::nullopt,
                                        std::optional<KittyImageSize> frameImageSize = std::nullopt);

/// The shared-memory medium ("s"); the payload is the base64 of an object name.
KittyPayloadResult loadKittySharedMemoryPayload(const KittyGraphicsControl& control,
                                                std::span<const uint8_t> base64Payload,
                                                const KittyGraphicsConfiguration& configuration,
                                                std::optional<int64_t> maximumImageBytes = std::nullopt,
                                                std::optional<KittyImageSize> frameImageSize = std::nullopt);

/// Reads `size` bytes (0: the rest, at most 400 MiB) from `offset` of a regular file, but never
/// more than `maximumBytes`; with `deleteAfterRead` the file is unlinked whatever the outcome once
/// it was opened. Absent on failure; an empty result is not a failure.
std::optional<std::vector<uint8_t>> readKittyFileData(const std::string& path, int64_t offset, int64_t size,
                                                      bool deleteAfterRead,
                                                      int64_t maximumBytes = kittyMaximumDataBytes);

/// Copies a range of a shared-memory object, at most `maximumBytes` of it, and unlinks it whatever
/// the outcome once it was opened; `expectedSize` is the least the object must hold and the
/// default length of the range.
std::optional<std::vector<uint8_t>> readKittySharedMemory(const std::string& name,
                                                          std::optional<int64_t> expectedSize, int64_t offset,
                                                          int64_t size,
                                                          int64_t maximumBytes = kittyMaximumDataBytes);

/// Copies exactly `length` bytes from `offset` of an open descriptor; absent on a read error or
/// when the file ends before the range does (it may have shrunk since it was measured).
std::optional<std::vector<uint8_t>> copyKittyFileRange(int descriptor, int64_t offset, int64_t length);

/// Opens a canonical path read-only for the file media: no symbolic link anywhere on the path, no
/// blocking on a FIFO or device, no controlling terminal, closed on exec. -1 on failure.
int openKittyMediaPath(const std::string& canonicalPath);

/// Whether a canonical path lies inside the configured trusted temporary directory.
bool isKittyTrustedTemporaryPath(const std::string& path, const KittyGraphicsConfiguration& configuration);

/// The canonical form of a path (symbolic links resolved); absent when it cannot be found or
/// does not fit 1024 bytes.
std::optional<std::string> resolveKittyRealPath(const std::string& path);

/// 2 to 31 bytes, a "/" first and nowhere else.
bool isPlausibleSharedMemoryName(std::span<const uint8_t> name);

} // namespace kestrovan
