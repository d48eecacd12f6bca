// A program the accessibility tests run: it reads, over AT-SPI as a screen reader does, the tree of
// accessible objects of the application whose process is PID, and prints one line per object in
// tree order:
//
//   depth TAB role TAB name TAB selected text TAB states
//
// The role is AT-SPI's name for it ("alert", "label", "push button"), the selected text is what
// the object's text selections hold (empty without any), and the states are those of "active" and
// "focused" it has, comma-separated. Tabs and line breaks in a text print as spaces. It prints
// nothing, and ends with status 1, when the application is not on the accessibility bus.
//
//   vesk_accessibility_tree PID
#include <atspi/atspi.h>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string oneLine(const char* text)
{
    std::string line = text ? text : "";
    for (char& c : line)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return line;
}

std::string selectedText(AtspiAccessible* accessible)
{
    std::string selected;
    AtspiText* text = atspi_accessible_get_text_iface(accessible);
    if (!text)
        return selected;
    const gint count = atspi_text_get_n_selections(text, nullptr);
    for (gint index = 0; index < count; ++index) {
        AtspiRange* range = atspi_text_get_selection(text, index, nullptr);
        if (!range)
            continue;
        if (range->end_offset > range->start_offset) {
            gchar* part = atspi_text_get_text(text, range->start_offset, range->end_offset, nullptr);
            selected += oneLine(part);
            g_free(part);
        }
        g_free(range);
    }
    g_object_unref(text);
    return selected;
}

std::string states(AtspiAccessible* accessible)
{
    std::string names;
    AtspiStateSet* set = atspi_accessible_get_state_set(accessible);
    if (!set)
        return names;
    if (atspi_state_set_contains(set, ATSPI_STATE_ACTIVE))
        names += "active";
    if (atspi_state_set_contains(set, ATSPI_STATE_FOCUSED))
        names += std::string(names.empty() ? "" : ",") + "focused";
    g_object_unref(set);
    return names;
}

void print(AtspiAccessible* accessible, int depth)
{
    gchar* role = atspi_accessible_get_role_name(accessible, nullptr);
    gchar* name = atspi_accessible_get_name(accessible, nullptr);
    std::printf("%d\t%s\t%s\t%s\t%s\n", depth, oneLine(role).c_str(), oneLine(name).c_str(),
                selectedText(accessible).c_str(), states(accessible).c_str());
    g_free(role);
    g_free(name);
    const gint count = atspi_accessible_get_child_count(accessible, nullptr);
    for (gint index = 0; index < count; ++index) {
        if (AtspiAccessible* child = atspi_accessible_get_child_at_index(accessible, index, nullptr)) {
            print(child, depth + 1);
            g_object_unref(child);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const guint pid = guint(std::strtoul(argv[1], nullptr, 10));
    if (atspi_init() < 0)
        return 1;
    int status = 1;
    AtspiAccessible* desktop = atspi_get_desktop(0);
    // Each run reads the tree afresh: nothing is cached between the objects' questions.
    atspi_accessible_set_cache_mask(desktop, ATSPI_CACHE_NONE);
    const gint count = atspi_accessible_get_child_count(desktop, nullptr);
    for (gint index = 0; index < count && status != 0; ++index) {
        AtspiAccessible* application = atspi_accessible_get_child_at_index(desktop, index, nullptr);
        if (!application)
            continue;
        if (atspi_accessible_get_process_id(application, nullptr) == pid) {
            print(application, 0);
            status = 0;
        }
        g_object_unref(application);
    }
    g_object_unref(desktop);
    std::fflush(stdout);
    return status;
}
