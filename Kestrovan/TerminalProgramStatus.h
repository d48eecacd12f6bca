// What a program reports about its jobs through OSC 7501: one record per job, keyed by an id that
// may name a hierarchy ("build/tests"), and the store the terminal keeps them in.
//
// The store is a plain value: records by id plus the order in which they were last updated. The
// terminal drops records on request, on a new shell prompt, when the child ends and on a full
// reset, and hands the host the resolved records after every change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestrovan {

enum class TerminalProgramStatusState : uint8_t
{
    idle,
    working,
    done,
    blocked,
    error,
};

/// The state named by a report's text ("idle", "working", "done", "blocked", "error").
std::optional<TerminalProgramStatusState> terminalProgramStatusStateFromRaw(std::string_view text);
std::string_view rawValue(TerminalProgramStatusState state);

/// What kind of attention a blocked job needs.
enum class TerminalProgramStatusKind : uint8_t
{
    permission,
    question,
    auth,
};

std::optional<TerminalProgramStatusKind> terminalProgramStatusKindFromRaw(std::string_view text);
std::string_view rawValue(TerminalProgramStatusKind kind);

struct TerminalProgramStatus
{
    /// Up to eight "/"-separated segments; a record's ancestors are the records named by its
    /// leading segments.
    std::string id;
    TerminalProgramStatusState state = TerminalProgramStatusState::idle;
    /// Only for `blocked` records.
    std::optional<TerminalProgramStatusKind> kind;
    /// 0 ... 100; only for `working` and `blocked` records.
    std::optional<int> progress;
    std::optional<std::string> app;
    /// Filled when records are read out of the store: `app`, else the nearest ancestor's `app`.
    std::optional<std::string> effectiveApp;
    std::optional<std::string> title;
    std::optional<std::string> message;

    friend bool operator==(const TerminalProgramStatus&, const TerminalProgramStatus&) = default;
};

struct TerminalProgramStatusStore
{
    /// The most records the store keeps.
    static constexpr size_t maximumRecords = 256;

    std::unordered_map<std::string, TerminalProgramStatus> records;
    /// Every id once, least recently updated first.
    std::vector<std::string> updateOrder;

    using Predicate = std::function<bool(const TerminalProgramStatus&)>;

    /// Stores the record under its id as the most recently updated one. A new id arriving when
    /// the store is full evicts the least recently updated record first.
    void replace(const TerminalProgramStatus& record);
    /// Removes every record the predicate matches; answers whether anything was removed.
    bool remove(const Predicate& where);
    /// Matches the record `id` and every record below it ("id/..."); the empty id matches all.
    static Predicate clearIdPredicate(std::string id);
    /// Matches the records of jobs still running: `working` and `blocked`.
    static bool isActiveRecord(const TerminalProgramStatus& record);
    /// `remove(where: clearIdPredicate(id))`.
    bool clear(std::string_view id);
    /// The records in update order, each with `effectiveApp` resolved.
    std::vector<TerminalProgramStatus> snapshots() const;
    /// One record with `effectiveApp` resolved, or absent.
    std::optional<TerminalProgramStatus> snapshot(const std::string& id) const;
};

} // namespace kestrovan
