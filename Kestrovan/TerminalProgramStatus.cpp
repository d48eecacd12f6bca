#include "Kestrovan/TerminalProgramStatus.h"

#include <algorithm>
#include <array>

namespace kestrovan {

namespace {

constexpr std::array<std::string_view, 5> stateNames{"idle", "working", "done", "blocked", "error"};
constexpr std::array<std::string_view, 3> kindNames{"permission", "question", "auth"};

bool isSameOrDescendant(std::string_view candidate, std::string_view id)
{
    if (candidate.size() == id.size())
        return candidate == id;
    return candidate.size() > id.size() && candidate.substr(0, id.size()) == id &&
           candidate[id.size()] == '/';
}

} // namespace

std::optional<TerminalProgramStatusState> terminalProgramStatusStateFromRaw(std::string_view text)
{
    for (size_t i = 0; i < stateNames.size(); ++i) {
        if (stateNames[i] == text)
            return static_cast<TerminalProgramStatusState>(i);
    }
    return std::nullopt;
}

std::string_view rawValue(TerminalProgramStatusState state)
{
    return stateNames[static_cast<size_t>(state)];
}

std::optional<TerminalProgramStatusKind> terminalProgramStatusKindFromRaw(std::string_view text)
{
    for (size_t i = 0; i < kindNames.size(); ++i) {
        if (kindNames[i] == text)
            return static_cast<TerminalProgramStatusKind>(i);
    }
    return std::nullopt;
}

std::string_view rawValue(TerminalProgramStatusKind kind)
{
    return kindNames[static_cast<size_t>(kind)];
}

void TerminalProgramStatusStore::replace(const TerminalProgramStatus& record)
{
    const auto existing = std::find(updateOrder.begin(), updateOrder.end(), record.id);
    if (existing != updateOrder.end()) {
        updateOrder.erase(existing);
    } else if (records.size() >= maximumRecords && !updateOrder.empty()) {
        records.erase(updateOrder.front());
        updateOrder.erase(updateOrder.begin());
    }
    records.insert_or_assign(record.id, record);
    updateOrder.push_back(record.id);
}

bool TerminalProgramStatusStore::remove(const Predicate& where)
{
    const size_t before = updateOrder.size();
    std::erase_if(updateOrder, [&](const std::string& id) {
        const auto found = records.find(id);
        if (found == records.end() || !where(found->second))
            return false;
        records.erase(found);
        return true;
    });
    return updateOrder.size() != before;
}

TerminalProgramStatusStore::Predicate TerminalProgramStatusStore::clearIdPredicate(std::string id)
{
    return [id = std::move(id)](const TerminalProgramStatus& record) {
        return id.empty() || isSameOrDescendant(record.id, id);
    };
}

bool TerminalProgramStatusStore::isActiveRecord(const TerminalProgramStatus& record)
{
    return record.state == TerminalProgramStatusState::working ||
           record.state == TerminalProgramStatusState::blocked;
}

bool TerminalProgramStatusStore::clear(std::string_view id)
{
    return remove(clearIdPredicate(std::string(id)));
}

std::optional<TerminalProgramStatus> TerminalProgramStatusStore::snapshot(const std::string& id) const
{
    const auto found = records.find(id);
    if (found == records.end())
        return std::nullopt;
    TerminalProgramStatus record = found->second;
    if (record.app) {
        record.effectiveApp = record.app;
        return record;
    }
    // Walk up the hierarchy, nearest ancestor first. With no app anywhere, the stored value
    // stands.
    std::string_view ancestor = record.id;
    for (size_t slash = ancestor.rfind('/'); slash != std::string_view::npos; slash = ancestor.rfind('/')) {
        ancestor = ancestor.substr(0, slash);
        const auto parent = records.find(std::string(ancestor));
        if (parent != records.end() && parent->second.app) {
            record.effectiveApp = parent->second.app;
            break;
        }
    }
    return record;
}

std::vector<TerminalProgramStatus> TerminalProgramStatusStore::snapshots() const
{
    std::vector<TerminalProgramStatus> result;
    result.reserve(updateOrder.size());
    for (const std::string& id : updateOrder) {
        if (auto record = snapshot(id))
            result.push_back(std::move(*record));
    }
    return result;
}

} // namespace kestrovan
